#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <regex>

#include "orvalis_version.h"
#include "report/error_history.h"
#include "report/error_report.h"
#include "report/quick_mail.h"
#include "report/report_mail.h"
#include "report/throw_trace.h"
#include "services/configer.h"
#include "test_util.h"
#include "zip_peek.h"

namespace {

ORVALIS_DECLARE_ERROR(EScanFailure, Exception);

bool IsMemberName(const std::string& name) { return std::regex_match(name, std::regex("[0-9A-F]{32}")); }

// Points the history and the mail program's search path into a fresh folder.
class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        history_ = dir_ / "conf/error.history";
        SetErrorHistoryFileName(history_);
        const char* path = std::getenv("PATH");
        savedPath_ = path ? path : "";
        bin_ = dir_ / "bin";
        ForceFolders("", bin_, false);
        ::setenv("PATH", bin_.c_str(), 1);
        // The copy a mail program is handed stays after a successful send;
        // it must land inside the test's own folder.
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        hadRuntime_ = runtime != nullptr;
        savedRuntime_ = runtime ? runtime : "";
        ForceFolders("", dir_ / "run", false);
        ::setenv("XDG_RUNTIME_DIR", (dir_ / "run").c_str(), 1);
    }
    void TearDown() override {
        ::setenv("PATH", savedPath_.c_str(), 1);
        if (hadRuntime_)
            ::setenv("XDG_RUNTIME_DIR", savedRuntime_.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        SetErrorHistoryFileName("");
    }
    // A stand-in for xdg-email: writes its arguments and the attachment it
    // was given to files, then exits with status. PATH holds only its
    // folder, so it names the tools it uses in full.
    void FakeMailProgram(int status, const std::string& extra = "") {
        std::string script =
            "#!/bin/sh\n"
            "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
            (dir_ / "args") +
            "'\n"
            "while [ $# -gt 0 ]; do\n"
            "  if [ \"$1\" = --attach ]; then /bin/cp \"$2\" '" +
            (dir_ / "attached") +
            "'; fi\n"
            "  shift\n"
            "done\n" +
            extra + "exit " + std::to_string(status) + "\n";
        std::string file = dir_.Write("bin/xdg-email", script);
        ::chmod(file.c_str(), 0755);
    }

    TempDir dir_;
    std::string history_, bin_, savedPath_, savedRuntime_;
    bool hadRuntime_ = false;
};

}  // namespace

TEST(HistoryMember, NameAndText) {
    std::string name = HistoryMemberName("05/01/24", "14:03:11", 417);
    EXPECT_TRUE(IsMemberName(name)) << name;
    EXPECT_EQ(name, HexEncode(Md5Digest("05/01/2414:03:11417")));
    EXPECT_NE(name, HistoryMemberName("05/01/24", "14:03:11", 418));
    EXPECT_TRUE(IsMemberName(NewHistoryMemberName(std::time(nullptr))));
    // Kept beside the configuration file.
    EXPECT_EQ(ErrorHistoryFileName(), JoinPath(ExtractFileDir(ConfigFileName()), "error.history"));

    EXPECT_EQ(HistoryMemberText("Disk is full.\r\nSecond line.", {"Exception class: EOSError", "----"}),
              "Brennick Orvalis  Ver." ORVALIS_VERSION
              "\r\n\r\n"
              "Disk is full.\r\nSecond line.\r\n"
              "\r\n\r\n"
              "Exception class: EOSError\r\n----\r\n");
}

TEST_F(HistoryTest, ReportsAccumulateAndSameNameIsReplaced) {
    std::string first = AddToHistory("First.", {"one"});
    std::string second = AddToHistory("Second.", {"two"});  // also creates the missing folder
    EXPECT_TRUE(IsMemberName(first));
    auto members = ReadZip(history_);
    ASSERT_EQ(members.size(), first == second ? 1u : 2u);
    EXPECT_EQ(members[first].text.rfind("Brennick Orvalis  Ver." ORVALIS_VERSION "\r\n\r\nFirst.\r\n", 0), 0u);
    EXPECT_EQ(members[second].method, ZIP_CM_DEFLATE);
    EXPECT_EQ(members[second].text, HistoryMemberText("Second.", {"two"}));

    // Two reports in the same second with the same random number share a
    // name: the later one takes the earlier one's place.
    ZipBuffer(history_, first, HistoryMemberText("Later.", {"three"}));
    members = ReadZip(history_);
    EXPECT_EQ(members.size(), first == second ? 1u : 2u);
    EXPECT_EQ(members[first].text, HistoryMemberText("Later.", {"three"}));
}

TEST_F(HistoryTest, UnwritableHistoryRaises) {
    dir_.Write("blocker", "a file where a folder should be");
    SetErrorHistoryFileName(dir_ / "blocker/error.history");
    EXPECT_THROW(AddToHistory("Lost.", {}), EOSError);
}

TEST_F(HistoryTest, HeadlessReportPrintsAndStores) {
    SetThrowTraceCapture(true);
    int status = 0;
    testing::internal::CaptureStderr();
    try {
        throw EScanFailure("Cannot read the folder\n/music");
    } catch (const std::exception& e) {
        status = ReportUnhandledErrorHeadless(e);
    }
    std::string err = testing::internal::GetCapturedStderr();
    SetThrowTraceCapture(false);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("Cannot read the folder\n/music."), std::string::npos) << err;
    EXPECT_NE(err.find(history_), std::string::npos) << err;

    auto members = ReadZip(history_);
    ASSERT_EQ(members.size(), 1u);
    EXPECT_NE(err.find(members.begin()->first), std::string::npos) << err;
    const std::string& text = members.begin()->second.text;
    EXPECT_EQ(
        text.rfind("Brennick Orvalis  Ver." ORVALIS_VERSION "\r\n\r\nCannot read the folder\r\n/music.\r\n\r\n\r\n"
                   "Exception class: EScanFailure\r\nException address: ",
                   0),
        0u)
        << text;
    EXPECT_EQ(text.find("Exception address: " + std::string(sizeof(void*) * 2, '0')), std::string::npos);
    EXPECT_NE(text.find("\r\nDisplay  : no display\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nList of loaded modules:\r\n"), std::string::npos);
}

TEST_F(HistoryTest, HeadlessReportStillFailsCleanlyWhenHistoryCannotBeWritten) {
    dir_.Write("blocker", "x");
    SetErrorHistoryFileName(dir_ / "blocker/error.history");
    testing::internal::CaptureStderr();
    int status = ReportUnhandledErrorHeadless(std::make_exception_ptr(std::runtime_error("Out of luck")));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("Out of luck."), std::string::npos);
    EXPECT_NE(err.find("could not be saved"), std::string::npos) << err;
}

TEST(QuickMail, CommandListsAndErrorMessage) {
    TAFQuickMail mail;
    EXPECT_EQ(mail.ErrorMessage(), "Error sending mail");
    mail.SetErrorMessage("Mail failed");
    EXPECT_EQ(mail.ErrorMessage(), "Mail failed");
    mail.SetErrorMessage("");
    EXPECT_EQ(mail.ErrorMessage(), "Error sending mail");

    mail.ToEmail = {"a@x.example", "b@x.example"};
    mail.ToCCEmail = {"c@x.example"};
    mail.ToBCCEmail = {"d@x.example"};
    mail.Subject = "Bug report";
    mail.TextToSend = {"line 1", "line 2"};
    mail.FileNames = {"/tmp/error.history", "-odd"};
    EXPECT_EQ(mail.MailCommand(),
              (TStringList{"xdg-email", "--cc", "c@x.example", "--bcc", "d@x.example", "--subject", "Bug report",
                           "--body", "line 1\r\nline 2", "--attach", "/tmp/error.history", "--attach", "./-odd",
                           "a@x.example", "b@x.example"}));
    mail.ResetAll();
    EXPECT_EQ(mail.MailCommand(), TStringList{"xdg-email"});
    EXPECT_EQ(mail.ErrorMessage(), "Error sending mail");
}

TEST_F(HistoryTest, SendResultCodes) {
    TAFQuickMail mail;
    mail.ToEmail = {"a@x.example"};
    // No mail program on the path.
    EXPECT_EQ(mail.SendMail(), -1);
    try {
        mail.Send();
        FAIL() << "Send succeeded without a mail program";
    } catch (const EMailError& e) {
        EXPECT_EQ(e.Message(), "Error sending mail (-1).");
    }
    FakeMailProgram(3);
    EXPECT_EQ(mail.SendMail(), 3);
    mail.SetErrorMessage("Mail failed");
    try {
        mail.Send();
        FAIL() << "Send succeeded although the mail program failed";
    } catch (const EMailError& e) {
        EXPECT_EQ(e.Message(), "Mail failed (3).");
    }
    FakeMailProgram(0);
    EXPECT_NO_THROW(mail.Send());
    EXPECT_EQ(LoadTextFile(dir_ / "args"), "a@x.example\n");
}

TEST_F(HistoryTest, MailProgramHoldingItsComposerCountsAsSent) {
    FakeMailProgram(0, "/bin/sleep 5\n");
    TAFQuickMail mail;
    mail.WaitSeconds = 1;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(mail.SendMail(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

TEST_F(HistoryTest, SuccessfulSendDeletesTheHistory) {
    AddToHistory("First.", {"one"});
    std::string archived = LoadTextFile(history_);
    FakeMailProgram(0);
    SendErrorHistory();
    EXPECT_FALSE(FileExists(history_));
    // The mail program got the whole archive under its own name.
    EXPECT_EQ(LoadTextFile(dir_ / "attached"), archived);
    TStringList args;
    SplitToList(LoadTextFile(dir_ / "args"), "\n", args);
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(args[0], "--subject");
    EXPECT_EQ(args[1], "Bug report: Brennick Orvalis  Ver." ORVALIS_VERSION);
    EXPECT_EQ(args[2], "--attach");
    EXPECT_EQ(ExtractFileName(args[3]), "error.history");
    EXPECT_EQ(args[4], "support@orvalis.example");

    // The next report starts a new archive.
    std::string next = AddToHistory("Next.", {"two"});
    auto members = ReadZip(history_);
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members.begin()->first, next);
}

TEST_F(HistoryTest, FailedSendKeepsTheHistory) {
    AddToHistory("First.", {"one"});
    std::string archived = LoadTextFile(history_);
    EXPECT_THROW(SendErrorHistory(), EMailError);  // no mail program
    EXPECT_EQ(LoadTextFile(history_), archived);
    FakeMailProgram(4);
    EXPECT_THROW(SendErrorHistory(), EMailError);
    EXPECT_EQ(LoadTextFile(history_), archived);
    // The private copy made for the failed mail is not left behind.
    TStringList args;
    SplitToList(LoadTextFile(dir_ / "args"), "\n", args);
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(ExtractFileName(args[3]), "error.history");
    EXPECT_FALSE(DirectoryExists(ExtractFileDir(args[3])));

    ::unlink(history_.c_str());
    ::unlink((dir_ / "args").c_str());
    FakeMailProgram(0);
    EXPECT_THROW(SendErrorHistory(), EOSError);  // nothing to send
    EXPECT_FALSE(FileExists(dir_ / "args"));

    EXPECT_EQ(ManualSendingMessage(),
              "Cannot send the message automatically. \r\n"
              "Please send the file \"error.history\" to the authors (support@orvalis.example)\r\n" +
                  history_);
    EXPECT_EQ(SupportMailtoUrl(), "mailto:support@orvalis.example");
}
