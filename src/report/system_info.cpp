#include "report/system_info.h"

#include <link.h>
#include <sys/utsname.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/exe_dir.h"

namespace {

// Value of KEY in a "KEY=value" text (os-release style, value maybe quoted).
std::string ShellValue(const std::string& text, const std::string& key) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = Trim(std::string_view(text).substr(pos, eol - pos));
        pos = eol + 1;
        if (line.compare(0, key.size() + 1, key + "=") != 0) continue;
        std::string value = line.substr(key.size() + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
            char quote = value.front();
            std::string raw = value.substr(1, value.size() - 2), out;
            for (std::size_t i = 0; i < raw.size(); ++i) {
                if (quote == '"' && raw[i] == '\\' && i + 1 < raw.size()) ++i;
                out += raw[i];
            }
            value = out;
        }
        return value;
    }
    return {};
}

// Value of the first "key : value" line of /proc/cpuinfo with that key.
std::string CpuField(const std::string& text, const std::string& key) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string_view line = std::string_view(text).substr(pos, eol - pos);
        pos = eol + 1;
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        if (Trim(line.substr(0, colon)) == key) return Trim(line.substr(colon + 1));
    }
    return {};
}

// Leading decimal number of text at pos; advances pos past it.
unsigned ReadNumber(const std::string& text, std::size_t& pos) {
    unsigned long value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + static_cast<unsigned>(text[pos] - '0');
        if (value > UINT_MAX) value = UINT_MAX;
        ++pos;
    }
    return static_cast<unsigned>(value);
}

bool IsVersionText(const std::string& text) {
    if (text.empty() || text.front() == '.' || text.back() == '.') return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '.' ? (i > 0 && text[i - 1] == '.') : (c < '0' || c > '9')) return false;
    }
    return true;
}

std::string Hex8(std::uintptr_t value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%08zX", static_cast<std::size_t>(value));
    return buf;
}

}  // namespace

std::string FormatSystemLine(const std::string& sysname, const std::string& release, const std::string& osRelease) {
    std::string distribution = ShellValue(osRelease, "PRETTY_NAME");
    if (distribution.empty()) distribution = ShellValue(osRelease, "NAME");
    if (distribution.empty()) distribution = "(unknown distribution)";
    // Kernel release "6.1.0-18-amd64": major, minor, and the patch level as build.
    std::size_t pos = 0;
    unsigned major = ReadNumber(release, pos), minor = 0, build = 0;
    if (pos < release.size() && release[pos] == '.') minor = ReadNumber(release, ++pos);
    if (pos < release.size() && release[pos] == '.') build = ReadNumber(release, ++pos);
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, ", Version: %u.%u, Build: %X, ", major, minor, build);
    return "System   : " + sysname + " " + distribution + numbers + "\"" + release + "\"";
}

std::string SystemLine() {
    struct utsname u {};
    if (::uname(&u) != 0) return FormatSystemLine("Linux", "", "");
    std::string osRelease = LoadTextFile("/etc/os-release");
    if (osRelease.empty()) osRelease = LoadTextFile("/usr/lib/os-release");
    return FormatSystemLine(u.sysname, u.release, osRelease);
}

std::string FormatProcessorLine(const std::string& cpuinfo, const std::string& machine, long maxFreqKHz) {
    std::string vendor = CpuField(cpuinfo, "vendor_id");
    if (vendor.empty()) vendor = CpuField(cpuinfo, "CPU implementer");
    if (vendor.empty()) vendor = machine;
    std::string name = CpuField(cpuinfo, "model name");
    if (name.empty()) name = CpuField(cpuinfo, "Hardware");
    if (name.empty()) name = CpuField(cpuinfo, "cpu model");
    if (name.empty()) name = machine;
    long mhz = 0;
    std::string clock = CpuField(cpuinfo, "cpu MHz");
    if (!clock.empty()) {
        char* end = nullptr;
        double value = std::strtod(clock.c_str(), &end);
        if (end != clock.c_str() && value > 0 && value < 1e7) mhz = std::lround(value);
    }
    if (mhz == 0 && maxFreqKHz > 0) mhz = (maxFreqKHz + 500) / 1000;
    bool mmx = false;
    std::string flags = " " + CpuField(cpuinfo, "flags") + " ";
    for (char& c : flags)
        if (c == '\t') c = ' ';
    mmx = flags.find(" mmx ") != std::string::npos;
    return "Processor: " + vendor + ", " + name + ", " + std::to_string(mhz) + " MHz " + (mmx ? "MMX" : "");
}

std::string ProcessorLine() {
    struct utsname u {};
    std::string machine = ::uname(&u) == 0 ? u.machine : "";
    std::string freq = LoadTextFile("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq");
    return FormatProcessorLine(LoadTextFile("/proc/cpuinfo"), machine, std::atol(freq.c_str()));
}

std::string FormatDisplayLine(int width, int height, int bitsPerPixel) {
    return "Display  : " + std::to_string(width) + "x" + std::to_string(height) + " pixels, " +
           std::to_string(bitsPerPixel) + " bpp";
}

std::string NoDisplayLine() { return "Display  : no display"; }

std::vector<TModuleInfo> LoadedModules() {
    std::vector<TModuleInfo> modules;
    ::dl_iterate_phdr(
        [](struct dl_phdr_info* info, std::size_t, void* data) -> int {
            auto* list = static_cast<std::vector<TModuleInfo>*>(data);
            bool any = false;
            ElfW(Addr) lowest = 0;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const auto& ph = info->dlpi_phdr[i];
                if (ph.p_type != PT_LOAD) continue;
                if (!any || ph.p_vaddr < lowest) lowest = ph.p_vaddr;
                any = true;
            }
            if (!any) return 0;
            TModuleInfo m;
            m.address = info->dlpi_addr + lowest;
            // An object linked for a fixed address that was moved keeps that
            // address as its preferred one.
            m.preferred = lowest != 0 && info->dlpi_addr != 0 ? lowest : 0;
            m.path = info->dlpi_name ? info->dlpi_name : "";
            if (m.path.empty() && list->empty()) m.path = ExePath();  // the first entry is the executable
            if (m.path.empty()) return 0;
            list->push_back(std::move(m));
            return 0;
        },
        &modules);
    std::sort(modules.begin(), modules.end(),
              [](const TModuleInfo& a, const TModuleInfo& b) { return a.address < b.address; });
    return modules;
}

TModuleVersion ModuleVersionFromFileName(const std::string& fileName) {
    TModuleVersion v;
    std::string name = ExtractFileName(fileName);
    std::string text;
    std::size_t so = name.rfind(".so.");
    if (so != std::string::npos && IsVersionText(name.substr(so + 4))) {
        text = name.substr(so + 4);
    } else if (name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0) {
        // "libc-2.31.so"
        std::size_t dash = name.rfind('-');
        if (dash != std::string::npos) {
            std::string candidate = name.substr(dash + 1, name.size() - 3 - dash - 1);
            if (IsVersionText(candidate)) text = candidate;
        }
    }
    if (text.empty()) return v;
    v.known = true;
    v.text = text;
    std::size_t pos = 0;
    for (int i = 0; i < 4 && pos < text.size(); ++i) {
        v.numbers[i] = ReadNumber(text, pos);
        if (pos < text.size()) ++pos;  // the dot
    }
    return v;
}

TModuleVersion ModuleVersionOf(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) {
        TModuleVersion v = ModuleVersionFromFileName(resolved);
        if (v.known) return v;
    }
    return ModuleVersionFromFileName(path);
}

TStringList FormatModuleLines(const TModuleInfo& module, const TModuleVersion& version) {
    TStringList lines;
    lines.push_back("[" + Hex8(module.address) + "] " + module.path);
    std::string prefix = module.preferred != 0 && module.preferred != module.address
                             ? "<" + Hex8(module.preferred) + "> "
                             : std::string(11, ' ');
    if (!version.known) {
        lines.push_back(prefix + "(no version info)");
    } else {
        char numbers[64];
        std::snprintf(numbers, sizeof numbers, "%u.%u.%u.%u", version.numbers[0], version.numbers[1],
                      version.numbers[2], version.numbers[3]);
        lines.push_back(prefix + numbers + " - " + version.text);
    }
    return lines;
}
