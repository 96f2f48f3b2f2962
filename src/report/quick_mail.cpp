#include "report/quick_mail.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace {

const char* const kDefaultErrorMessage = "Error sending mail";

}  // namespace

TAFQuickMail::TAFQuickMail() : errorMessage_(kDefaultErrorMessage) {}

void TAFQuickMail::SetErrorMessage(const std::string& message) {
    errorMessage_ = message.empty() ? kDefaultErrorMessage : message;
}

void TAFQuickMail::ResetAll() {
    TextToSend.clear();
    ToEmail.clear();
    ToCCEmail.clear();
    ToBCCEmail.clear();
    FileNames.clear();
    Subject.clear();
}

TStringList TAFQuickMail::MailCommand() const {
    TStringList args{"xdg-email"};
    for (const std::string& cc : ToCCEmail) {
        args.push_back("--cc");
        args.push_back(cc);
    }
    for (const std::string& bcc : ToBCCEmail) {
        args.push_back("--bcc");
        args.push_back(bcc);
    }
    if (!Subject.empty()) {
        args.push_back("--subject");
        args.push_back(Subject);
    }
    if (!TextToSend.empty()) {
        std::string body;
        for (std::size_t i = 0; i < TextToSend.size(); ++i) body += (i ? "\r\n" : "") + TextToSend[i];
        args.push_back("--body");
        args.push_back(body);
    }
    for (const std::string& file : FileNames) {
        args.push_back("--attach");
        // A relative name starting with "-" must not be read as an option.
        args.push_back(!file.empty() && file[0] == '-' ? "./" + file : file);
    }
    for (const std::string& to : ToEmail) args.push_back(to);
    return args;
}

int TAFQuickMail::SendMail() const {
    TStringList args = MailCommand();
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    // The mail program must not wait for input on our terminal.
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(WaitSeconds);
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
        }
        if (done < 0 && errno != EINTR) return 1;
        if (std::chrono::steady_clock::now() >= deadline) {
            // The mail program holds the composer open; collect it when it ends.
            std::thread([pid] {
                int ignored = 0;
                while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
                }
            }).detach();
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void TAFQuickMail::Send() {
    int result = SendMail();
    if (result != 0) throw EMailError(errorMessage_ + " (" + std::to_string(result) + ").");
}
