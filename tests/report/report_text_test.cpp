#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "report/error_report.h"
#include "report/system_info.h"
#include "report/throw_trace.h"

namespace {

ORVALIS_DECLARE_ERROR(ETestFailure, Exception);

const std::string kSeparator(100, '-');

// Switches capture on for one test and back off after it.
class CaptureOn {
public:
    CaptureOn() { SetThrowTraceCapture(true); }
    ~CaptureOn() { SetThrowTraceCapture(false); }
};

[[gnu::noinline]] void RaiseTestFailure() { throw ETestFailure("Disk is full"); }

bool StartsWith(const std::string& text, const std::string& head) { return text.compare(0, head.size(), head) == 0; }

}  // namespace

TEST(ReportMessage, FullStopAndLineBreaks) {
    EXPECT_EQ(ReportMessageText("Disk is full"), "Disk is full.");
    EXPECT_EQ(ReportMessageText("Done."), "Done.");
    EXPECT_EQ(ReportMessageText("first\nsecond"), "first\r\nsecond.");
    EXPECT_EQ(ReportMessageText("first\rsecond\r\nthird."), "first\r\nsecond\r\nthird.");
    // The full stop goes after the text, not on a line of its own.
    EXPECT_EQ(ReportMessageText("Cannot open\r\n"), "Cannot open.");
    EXPECT_EQ(ReportMessageText(""), ".");
}

TEST(ReportFirstBlock, AddressOfTheRaiseWhenCaptureIsOn) {
    CaptureOn capture;
    TErrorInfo info;
    try {
        RaiseTestFailure();
    } catch (...) {
        info = DescribeError(std::current_exception());
    }
    EXPECT_EQ(info.className, "ETestFailure");
    EXPECT_EQ(info.message, "Disk is full");
    // The address lies inside the function that raised, not in the handler
    // or in the recording itself.
    auto start = reinterpret_cast<std::uintptr_t>(&RaiseTestFailure);
    EXPECT_GT(info.address, start);
    EXPECT_LT(info.address, start + 1024);
    ASSERT_FALSE(info.trace.frames.empty());
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(info.trace.frames.front()), info.address);

    TStringList block = ReportFirstBlock(info);
    ASSERT_EQ(block.size(), 3u);
    EXPECT_EQ(block[0], "Exception class: ETestFailure");
    char expected[64];
    std::snprintf(expected, sizeof expected, "Exception address: %0*zX", static_cast<int>(sizeof(void*) * 2),
                  static_cast<std::size_t>(info.address));
    EXPECT_EQ(block[1], expected);
    EXPECT_EQ(block[2], kSeparator);
}

TEST(ReportFirstBlock, TraceSurvivesRethrowOfAStoredError) {
    CaptureOn capture;
    std::exception_ptr stored;
    try {
        RaiseTestFailure();
    } catch (...) {
        stored = std::current_exception();
    }
    // Later throws on the thread must not take the place of the stored one.
    for (int i = 0; i < 3; ++i) try {
            throw std::logic_error("unrelated");
        } catch (const std::exception&) {
        }
    TErrorInfo info = DescribeError(stored);
    auto start = reinterpret_cast<std::uintptr_t>(&RaiseTestFailure);
    EXPECT_GT(info.address, start);
    EXPECT_LT(info.address, start + 1024);
}

TEST(ReportFirstBlock, ClassNamesOfForeignErrors) {
    TErrorInfo info;
    try {
        throw std::out_of_range("index 7");
    } catch (const std::exception& e) {
        info = DescribeError(e);
    }
    EXPECT_EQ(info.className, "std::out_of_range");
    EXPECT_EQ(info.message, "index 7");
    // Raised with capture off: the place is unknown, the handler's stack is given.
    EXPECT_EQ(info.address, 0u);
    EXPECT_FALSE(info.trace.frames.empty());
    EXPECT_EQ(ReportFirstBlock(info)[1], "Exception address: " + std::string(sizeof(void*) * 2, '0'));

    try {
        throw 42;
    } catch (...) {
        info = DescribeError(std::current_exception());
    }
    EXPECT_EQ(info.className, "int");
    EXPECT_EQ(info.message, "Unknown error");
}

TEST(ReportFirstBlock, WorkerThreadErrorNamesTheThread) {
    CaptureOn capture;
    TErrorInfo info;
    std::thread worker([&info] {
        ::pthread_setname_np(::pthread_self(), "scanner");
        try {
            RaiseTestFailure();
        } catch (...) {
            info = CaptureThreadError();
        }
    });
    worker.join();
    EXPECT_EQ(info.className, "ETestFailure");
    EXPECT_NE(info.address, 0u);  // recorded on the worker's own stack
    TStringList block = ReportFirstBlock(info);
    ASSERT_EQ(block.size(), 3u);
    EXPECT_TRUE(StartsWith(block[1], "Thread: ID ")) << block[1];
    EXPECT_NE(block[1].find("\"scanner\""), std::string::npos) << block[1];
}

TEST(ReportBlocks, StackMachineModulesControls) {
    TStringList stack = ReportStackBlock(0, {"[0000000000401000] main"});
    ASSERT_EQ(stack.size(), 3u);
    EXPECT_TRUE(StartsWith(stack[0], "Stack list, generated ")) << stack[0];
    EXPECT_GT(stack[0].size(), std::string("Stack list, generated ").size());
    EXPECT_EQ(stack[1], "[0000000000401000] main");
    EXPECT_EQ(stack[2], kSeparator);

    EXPECT_EQ(ReportMachineBlock("System   : x", "Processor: y", "Display  : z"),
              (TStringList{"System   : x", "Processor: y", "Display  : z", kSeparator}));

    // Headings only when there is something under them; the separator always.
    EXPECT_EQ(ReportModulesBlock({}), TStringList{kSeparator});
    EXPECT_EQ(ReportModulesBlock({"[00400000] /bin/x"}),
              (TStringList{"List of loaded modules:", "[00400000] /bin/x", kSeparator}));
    EXPECT_EQ(ReportControlsBlock({}), TStringList{kSeparator});
    EXPECT_EQ(
        ReportControlsBlock({"QLineEdit \"NameEdit\"", "TMainForm \"MainForm\""}),
        (TStringList{"Active Controls hiearchy:", "QLineEdit \"NameEdit\"", "TMainForm \"MainForm\"", kSeparator}));
}

TEST(ReportBlocks, WholeReportOfThisProcess) {
    CaptureOn capture;
    TErrorInfo info;
    try {
        RaiseTestFailure();
    } catch (const std::exception& e) {
        info = DescribeError(e);
    }
    TReportEnvironment env;
    env.displayLine = NoDisplayLine();
    TStringList lines = ReportDetailBlocks(info, env);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(StartsWith(lines[0], "Stack list, generated "));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kSeparator), 4);
    EXPECT_EQ(lines.back(), kSeparator);  // no controls: block 5 is the separator alone

    auto at = [&](const std::string& head) {
        return std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return StartsWith(l, head); });
    };
    auto system = at("System   : Linux "), processor = at("Processor: "), display = at("Display  : no display"),
         modules = at("List of loaded modules:");
    ASSERT_NE(system, lines.end());
    EXPECT_EQ(processor, system + 1);
    EXPECT_EQ(display, system + 2);
    ASSERT_NE(modules, lines.end());
    EXPECT_EQ(*(modules - 1), kSeparator);
    EXPECT_EQ(at("Active Controls hiearchy:"), lines.end());
    // The raise's frame is described first, in this test program.
    EXPECT_NE(lines[1].find("test_report"), std::string::npos) << lines[1];
    // libc is listed with a version line under it.
    auto libc = std::find_if(modules, lines.end(),
                             [](const std::string& l) { return l.find("/libc.so") != std::string::npos; });
    ASSERT_NE(libc, lines.end());
    EXPECT_TRUE(StartsWith(*(libc + 1), std::string(11, ' '))) << *(libc + 1);
}

TEST(SystemInfo, SystemLineFromKernelAndOsRelease) {
    const std::string osRelease =
        "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n";
    EXPECT_EQ(FormatSystemLine("Linux", "6.1.0-18-amd64", osRelease),
              "System   : Linux Debian GNU/Linux 12 (bookworm), Version: 6.1, Build: 0, \"6.1.0-18-amd64\"");
    // The patch level is the build, in hexadecimal; NAME stands in for PRETTY_NAME.
    EXPECT_EQ(FormatSystemLine("Linux", "5.15.153.1-microsoft-standard-WSL2", "NAME='Ubuntu'\n"),
              "System   : Linux Ubuntu, Version: 5.15, Build: 99, \"5.15.153.1-microsoft-standard-WSL2\"");
    EXPECT_EQ(FormatSystemLine("Linux", "", ""),
              "System   : Linux (unknown distribution), Version: 0.0, Build: 0, \"\"");
    EXPECT_TRUE(StartsWith(SystemLine(), "System   : "));
}

TEST(SystemInfo, ProcessorLineFromCpuinfo) {
    const std::string x86 =
        "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\n"
        "model name\t: Intel(R) Xeon(R) CPU @ 2.20GHz\ncpu MHz\t\t: 2199.998\n"
        "flags\t\t: fpu vme de pse tsc msr pae mce cx8 mmx fxsr sse sse2\n\n"
        "processor\t: 1\nvendor_id\t: Other\n";
    EXPECT_EQ(FormatProcessorLine(x86, "x86_64", 0),
              "Processor: GenuineIntel, Intel(R) Xeon(R) CPU @ 2.20GHz, 2200 MHz MMX");
    // "mmxext" alone is not MMX; the line keeps its format without it.
    const std::string amd = "vendor_id : AuthenticAMD\nmodel name : AMD EPYC\ncpu MHz : 3000.4\nflags : fpu mmxext\n";
    EXPECT_EQ(FormatProcessorLine(amd, "x86_64", 0), "Processor: AuthenticAMD, AMD EPYC, 3000 MHz ");
    // ARM: no vendor, name or clock in cpuinfo; the machine and the cpufreq maximum stand in.
    const std::string arm = "processor\t: 0\nBogoMIPS\t: 48.00\nCPU implementer\t: 0x41\n";
    EXPECT_EQ(FormatProcessorLine(arm, "aarch64", 1800000), "Processor: 0x41, aarch64, 1800 MHz ");
    EXPECT_TRUE(StartsWith(ProcessorLine(), "Processor: "));
}

TEST(SystemInfo, DisplayLine) {
    EXPECT_EQ(FormatDisplayLine(1920, 1080, 24), "Display  : 1920x1080 pixels, 24 bpp");
    EXPECT_EQ(NoDisplayLine(), "Display  : no display");
}

TEST(SystemInfo, ModuleVersionsFromFileNames) {
    TModuleVersion v = ModuleVersionFromFileName("/usr/lib/x86_64-linux-gnu/libQt6Core.so.6.4.2");
    ASSERT_TRUE(v.known);
    EXPECT_EQ(v.text, "6.4.2");
    EXPECT_EQ(v.numbers[0], 6u);
    EXPECT_EQ(v.numbers[1], 4u);
    EXPECT_EQ(v.numbers[2], 2u);
    EXPECT_EQ(v.numbers[3], 0u);
    v = ModuleVersionFromFileName("/lib/libc-2.31.so");
    ASSERT_TRUE(v.known);
    EXPECT_EQ(v.text, "2.31");
    EXPECT_FALSE(ModuleVersionFromFileName("/usr/bin/orvalis").known);
    EXPECT_FALSE(ModuleVersionFromFileName("/usr/lib/libfoo.so").known);
    EXPECT_FALSE(ModuleVersionFromFileName("/usr/lib/libfoo.so.6a").known);
    EXPECT_FALSE(ModuleVersionFromFileName("/usr/lib/libfoo.so.1..2").known);

    TModuleInfo moved{0x7f0000001000, 0x10000, "/lib/libold.so.1.2.3.4.5"};
    TModuleVersion five = ModuleVersionFromFileName(moved.path);
    EXPECT_EQ(FormatModuleLines(moved, five),
              (TStringList{"[7F0000001000] /lib/libold.so.1.2.3.4.5", "<00010000> 1.2.3.4 - 1.2.3.4.5"}));
    TModuleInfo pic{0x400000, 0, "/usr/bin/orvalis"};
    EXPECT_EQ(FormatModuleLines(pic, TModuleVersion{}),
              (TStringList{"[00400000] /usr/bin/orvalis", "           (no version info)"}));
}

TEST(SystemInfo, LoadedModulesInAddressOrder) {
    std::vector<TModuleInfo> modules = LoadedModules();
    ASSERT_GE(modules.size(), 2u);
    EXPECT_TRUE(std::is_sorted(modules.begin(), modules.end(),
                               [](const TModuleInfo& a, const TModuleInfo& b) { return a.address < b.address; }));
    bool self = std::any_of(modules.begin(), modules.end(),
                            [](const TModuleInfo& m) { return m.path.find("test_report") != std::string::npos; });
    EXPECT_TRUE(self);
    for (const TModuleInfo& m : modules) EXPECT_FALSE(m.path.empty());
}
