// Runs the built program on the audio files of other projects' test suites
// (many broken on purpose): every run must end by itself, without a signal,
// and print well-formed JSON.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

// A run still going after this long is taken as hung.
constexpr auto kHangGuard = std::chrono::seconds(20);
// The exit status the sanitizers are told to use, so their reports cannot
// pass for the program's own "some file could not be read" status 1.
constexpr int kSanitizerStatus = 86;

// A strict JSON checker (RFC 8259): true when the whole text is one value.
class TJsonChecker {
public:
    explicit TJsonChecker(const std::string& text) : s_(text) {}

    bool Check() {
        Blank();
        if (!Value()) return false;
        Blank();
        return p_ == s_.size();
    }
    std::size_t Position() const { return p_; }

private:
    bool At(char c) const { return p_ < s_.size() && s_[p_] == c; }
    bool Take(char c) {
        if (!At(c)) return false;
        ++p_;
        return true;
    }
    void Blank() {
        while (p_ < s_.size() && std::strchr(" \t\r\n", s_[p_]) && s_[p_] != '\0') ++p_;
    }
    bool Word(const char* w) {
        const std::size_t n = std::strlen(w);
        if (s_.compare(p_, n, w) != 0) return false;
        p_ += n;
        return true;
    }
    bool Digits() {
        const std::size_t from = p_;
        while (p_ < s_.size() && s_[p_] >= '0' && s_[p_] <= '9') ++p_;
        return p_ > from;
    }
    bool Number() {
        Take('-');
        if (!Take('0') && !Digits()) return false;
        if (Take('.') && !Digits()) return false;
        if (Take('e') || Take('E')) {
            if (!Take('+')) Take('-');
            if (!Digits()) return false;
        }
        return true;
    }
    bool String() {
        if (!Take('"')) return false;
        while (p_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[p_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (p_ >= s_.size()) return false;
                const char e = s_[p_++];
                if (e == 'u') {
                    for (int i = 0; i < 4; ++i, ++p_)
                        if (p_ >= s_.size() || !std::isxdigit(static_cast<unsigned char>(s_[p_]))) return false;
                } else if (!std::strchr("\"\\/bfnrt", e) || e == '\0') {
                    return false;
                }
            } else if (c >= 0x80 && !Utf8Tail(c)) {
                return false;
            }
        }
        return false;
    }
    // The continuation bytes of a UTF-8 sequence whose lead byte was just read.
    bool Utf8Tail(unsigned char lead) {
        int more = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : -1;
        if (more < 0 || lead > 0xF4) return false;
        for (; more > 0; --more, ++p_)
            if (p_ >= s_.size() || (static_cast<unsigned char>(s_[p_]) & 0xC0) != 0x80) return false;
        return true;
    }
    bool Members(char close, bool named) {
        Blank();
        if (Take(close)) return true;
        do {
            Blank();
            if (named) {
                if (!String()) return false;
                Blank();
                if (!Take(':')) return false;
                Blank();
            }
            if (!Value()) return false;
            Blank();
        } while (Take(','));
        return Take(close);
    }
    bool Value() {
        if (++depth_ > 64) return false;
        bool ok;
        if (Take('{'))
            ok = Members('}', true);
        else if (Take('['))
            ok = Members(']', false);
        else if (At('"'))
            ok = String();
        else if (At('t'))
            ok = Word("true");
        else if (At('f'))
            ok = Word("false");
        else if (At('n'))
            ok = Word("null");
        else
            ok = Number();
        --depth_;
        return ok;
    }

    const std::string& s_;
    std::size_t p_ = 0;
    int depth_ = 0;
};

struct TRun {
    bool hung = false;
    int signal = 0;   // set when a signal ended the run
    int status = -1;  // exit status otherwise
    std::string out;
};

// Runs `orvalis info --json path`, its output collected, killed after the
// hang guard.
TRun RunInfo(const std::string& exe, const std::string& path) {
    TRun run;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0 && std::strncmp(*e, "UBSAN_OPTIONS=", 14) != 0)
            env.push_back(*e);
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
        const char* old = std::getenv(name);
        env.push_back(std::string(name) + "=" + (old ? std::string(old) + ":" : "") +
                      "exitcode=" + std::to_string(kSanitizerStatus));
    }
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string a0 = exe, a1 = "info", a2 = "--json", a3 = path;
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};

    pid_t pid;
    const int spawned = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return run;
    }

    const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
    char buf[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            run.hung = true;
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd pfd{pipeFds[0], POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
        if (n <= 0) break;  // the program closed its output
        run.out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    if (WIFSIGNALED(raw)) run.signal = WTERMSIG(raw);
    if (WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
    return run;
}

std::vector<std::string> AudioFilesBelow(const std::filesystem::path& root) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (ext == ".mp3" || ext == ".wma" || ext == ".ogg" || ext == ".flac" || ext == ".m4a")
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST(JsonChecker, TellsWellFormedFromBroken) {
    for (const char* good : {"[]", " {\"a\": [1, -2.5e3, \"\\u00e9\\n\", true, null]} ", "\"caf\xC3\xA9\""})
        EXPECT_TRUE(TJsonChecker(good).Check()) << good;
    for (const char* bad :
         {"", "[1,]", "{\"a\" 1}", "[1] 2", "\"tab\there\"", "\"\\x\"", "[01]", "\"\xC3(\"", "{'a': 1}", "[\"open"})
        EXPECT_FALSE(TJsonChecker(bad).Check()) << bad;
}

TEST(PeerCorpus, InfoEndsCleanlyOnEveryFile) {
    const std::filesystem::path root = std::filesystem::path(ORVALIS_SOURCE_DIR) / ".." / "shared" / "peer-audio";
    if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "no corpus at " << root.string();
    const char* exe = std::getenv("ORVALIS_EXE");
    const std::string program = exe ? exe : ORVALIS_BINARY_DIR "/orvalis";
    const std::vector<std::string> files = AudioFilesBelow(root);
    ASSERT_FALSE(files.empty()) << "no audio files below " << root.string();
    for (const std::string& file : files) {
        const TRun run = RunInfo(program, file);
        EXPECT_FALSE(run.hung) << file;
        EXPECT_EQ(run.signal, 0) << file << " ended by signal " << run.signal;
        // 0: read, 1: reported as unreadable.
        EXPECT_TRUE(run.status == 0 || run.status == 1) << file << " exit status " << run.status;
        TJsonChecker json(run.out);
        EXPECT_TRUE(json.Check()) << file << ": malformed JSON at byte " << json.Position() << ":\n" << run.out;
        EXPECT_NE(run.out.find("\"numbers\": ["), std::string::npos) << file;
    }
    RecordProperty("files", static_cast<int>(files.size()));
}
