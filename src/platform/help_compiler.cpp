#include "platform/help_compiler.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "base/interrupt.h"
#include "base/language.h"
#include "base/shared_functions.h"
#include "chmwriter/chm_writer.h"

extern char** environ;

namespace {

class FileDescriptor {
public:
    FileDescriptor() = default;
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int& Get() { return fd_; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// A child that is still running when we leave (a callback threw) is killed
// and reaped, so no zombie or orphaned compiler is left behind.
class ChildProcess {
public:
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        SetInterruptChildGroup(0);
    }
    pid_t& Pid() { return pid_; }
    int Wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
};

class FileRemover {
public:
    explicit FileRemover(std::string name) : name_(std::move(name)) {}
    ~FileRemover() { ::unlink(name_.c_str()); }
    FileRemover(const FileRemover&) = delete;
    FileRemover& operator=(const FileRemover&) = delete;

private:
    std::string name_;
};

class SpawnActions {
public:
    SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* Get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
public:
    SpawnAttributes() { ::posix_spawnattr_init(&attr_); }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attr_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t* Get() { return &attr_; }

private:
    posix_spawnattr_t attr_;
};

std::string SectionName(const std::string& trimmedLine) {
    if (trimmedLine.size() < 2 || trimmedLine.front() != '[') return {};
    std::size_t close = trimmedLine.find(']');
    if (close == std::string::npos) return {};
    return Trim(std::string_view(trimmedLine).substr(1, close - 1));
}

// The project as chmcmd needs it: every "[OPTIONS]" section names the output
// file, and any "Compiled file" of the project's own is dropped, because the
// result must land beside the project under its base name. Collects the
// entries of "[Files]" on the way.
std::string ProjectForChmcmd(const std::string& text, const std::string& chmName, TStringList& files) {
    const std::string outputLine = "Compiled file=" + chmName;
    std::string result;
    std::string section;
    bool hasOptions = false;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start = end + 1;

        std::string trimmed = Trim(line);
        std::string header = SectionName(trimmed);
        if (!header.empty()) {
            section = UpperCase(header);
            result += line + "\r\n";
            if (section == "OPTIONS") {
                hasOptions = true;
                result += outputLine + "\r\n";
            }
            continue;
        }
        if (section == "OPTIONS") {
            std::size_t eq = trimmed.find('=');
            if (eq != std::string::npos && SameText(Trim(trimmed.substr(0, eq)), "Compiled file")) continue;
        } else if (section == "FILES" && !trimmed.empty() && trimmed[0] != ';') {
            files.push_back(trimmed);
        }
        result += line + "\r\n";
    }
    if (!hasOptions) result = "[OPTIONS]\r\n" + outputLine + "\r\n\r\n" + result;
    return result;
}

std::string Say(std::string_view text, std::initializer_list<std::string_view> params = {}) {
    return Translate(text, Params(params));
}

void Report(const THelpMessageCallback& onMessage, const std::string& text) {
    if (onMessage) onMessage(text);
}

void DeliverLines(std::string& pending, const THelpMessageCallback& onMessage, bool flushAll) {
    std::size_t start = 0;
    for (;;) {
        std::size_t end = pending.find('\n', start);
        if (end == std::string::npos) break;
        std::string line = pending.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start = end + 1;
        Report(onMessage, line);
    }
    pending.erase(0, start);
    if (flushAll && !pending.empty()) {
        std::string line;
        line.swap(pending);
        if (line.back() == '\r') line.pop_back();
        Report(onMessage, line);
    }
}

// The hidden copy of the project that chmcmd compiles, removed with this object.
struct TChmcmdProject {
    std::string folder;    // where the project lives and chmcmd runs
    std::string copyName;  // the copy's name inside folder
    std::string chmFile;   // where the compiled file lands
    std::unique_ptr<FileRemover> removeCopy;
};

// Writes the copy with "Compiled file=" and offers each "[Files]" entry to
// onFile. False after a message when the project cannot be used.
bool PrepareChmcmdProject(const std::string& projectFile, const THelpMessageCallback& onMessage,
                          const THelpFileCallback& onFile, TChmcmdProject& prepared) {
    const std::string folder = ExtractFileDir(projectFile);
    prepared.folder = folder.empty() ? "." : folder;
    const std::string baseName = RemoveExtension(ExtractFileName(projectFile));
    prepared.chmFile = JoinPath(prepared.folder, baseName + ".chm");
    if (!FileExists(projectFile)) {
        Report(onMessage, Say("The help project \"$1\" cannot be read.", {projectFile}));
        return false;
    }
    TStringList files;
    const std::string project = ProjectForChmcmd(LoadTextFile(projectFile), baseName + ".chm", files);
    for (const auto& file : files)
        if (onFile && !onFile(file)) {
            Report(onMessage, Say("Compilation stopped."));
            return false;
        }
    // A file left from an earlier run of the same name must not pass for the result.
    ::unlink(prepared.chmFile.c_str());

    prepared.copyName = "." + baseName + ".chmcmd.hhp";
    const std::string copyFile = JoinPath(prepared.folder, prepared.copyName);
    prepared.removeCopy = std::make_unique<FileRemover>(copyFile);
    try {
        SaveTextFile(project, copyFile);
    } catch (const Exception& e) {
        Report(onMessage, e.Message());
        return false;
    }
    return true;
}

// Starts chmcmd on the copy with its output on one pipe; false after a message.
bool StartChmcmd(const TChmcmdProject& project, const THelpMessageCallback& onMessage, ChildProcess& child,
                 FileDescriptor& output) {
    const std::string program = kHelpCompilerProgram;
    FileDescriptor writeEnd;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        Report(onMessage, Say("The help compiler \"$1\" could not be started: $2", {program, std::strerror(errno)}));
        return false;
    }
    output.Get() = fds[0];
    writeEnd.Get() = fds[1];

    SpawnActions actions;
    ::posix_spawn_file_actions_addopen(actions.Get(), 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(actions.Get(), writeEnd.Get(), 1);
    ::posix_spawn_file_actions_adddup2(actions.Get(), writeEnd.Get(), 2);
    // chmcmd writes "Compiled file" relative to its working folder.
    ::posix_spawn_file_actions_addchdir_np(actions.Get(), project.folder.c_str());

    SpawnAttributes attributes;
    sigset_t noSignals, defaults;
    sigemptyset(&noSignals);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigmask(attributes.Get(), &noSignals);
    ::posix_spawnattr_setsigdefault(attributes.Get(), &defaults);
    // A group of its own: a Ctrl-C at the terminal reaches us, and we end the child.
    ::posix_spawnattr_setpgroup(attributes.Get(), 0);
    ::posix_spawnattr_setflags(attributes.Get(),
                               POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    std::string arg0 = program, arg1 = "--no-html-scan", arg2 = project.copyName;
    char* argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
    const int rc = ::posix_spawnp(&child.Pid(), program.c_str(), actions.Get(), attributes.Get(), argv, environ);
    if (rc == 0) {
        SetInterruptChildGroup(child.Pid());
        return true;
    }
    child.Pid() = -1;
    if (rc == ENOENT)
        Report(onMessage, Say("The help compiler \"$1\" was not found. Install it (Debian package "
                              "fp-utils) and try again.",
                              {program}));
    else
        Report(onMessage, Say("The help compiler \"$1\" could not be started: $2", {program, std::strerror(rc)}));
    return false;
}

// Hands every line the child prints to onMessage until it closes its output.
void ForwardChmcmdOutput(FileDescriptor& output, const THelpMessageCallback& onMessage) {
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(output.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            // The raise kills and reaps the child on the way out.
            ThrowIfInterrupted();
            continue;
        }
        if (n <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        DeliverLines(pending, onMessage, false);
    }
    DeliverLines(pending, onMessage, true);
    output.Close();
}

// Success only for exit status 0 with the compiled file in place.
bool ChmcmdSucceeded(int status, const TChmcmdProject& project, const THelpMessageCallback& onMessage) {
    const std::string program = kHelpCompilerProgram;
    if (WIFSIGNALED(status)) {
        Report(onMessage,
               Say("The help compiler \"$1\" was stopped by signal $2.", {program, std::to_string(WTERMSIG(status))}));
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        Report(onMessage, Say("The help compiler \"$1\" failed with exit status $2.",
                              {program, std::to_string(WEXITSTATUS(status))}));
        return false;
    }
    if (!FileExists(project.chmFile)) {
        Report(onMessage, Say("The help compiler \"$1\" did not write \"$2\".", {program, project.chmFile}));
        return false;
    }
    return true;
}

// chmcmd reads every file from disk.
bool WriteMemoryFiles(const std::string& folder, const THelpMemoryFiles* files, const THelpKeptFiles* kept,
                      const THelpMessageCallback& onMessage) {
    const auto write = [&](const std::string& address, std::string_view bytes) {
        std::string relative = address;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        SaveTextFile(bytes, JoinPath(folder.empty() ? "." : folder, relative));
    };
    try {
        if (files)
            for (const auto& [address, bytes] : *files) write(address, bytes);
        if (kept)
            for (const auto& address : kept->Addresses) write(address, kept->Read(address));
    } catch (const Exception& e) {
        Report(onMessage, e.Message());
        return false;
    }
    return true;
}

}  // namespace

bool CompileHelpProject(const std::string& projectFile, const THelpMessageCallback& onMessage,
                        const THelpFileCallback& onFile) {
    TChmcmdProject project;
    if (!PrepareChmcmdProject(projectFile, onMessage, onFile, project)) return false;
    ChildProcess child;
    FileDescriptor output;
    if (!StartChmcmd(project, onMessage, child, output)) return false;
    ForwardChmcmdOutput(output, onMessage);
    return ChmcmdSucceeded(child.Wait(), project, onMessage);
}

bool CompileHelpProject(const std::string& projectFile, THelpEngine engine, const THelpMessageCallback& onMessage,
                        const THelpFileCallback& onFile, const THelpProgressCallback& onProgress,
                        const THelpMemoryFiles* memoryFiles, const std::function<void()>& onFilesRead,
                        const THelpKeptFiles* keptFiles) {
    const std::string folder = ExtractFileDir(projectFile);
    if (engine == THelpEngine::Chmcmd) {
        if ((memoryFiles || keptFiles) && !WriteMemoryFiles(folder, memoryFiles, keptFiles, onMessage)) return false;
        if (onFilesRead) onFilesRead();
        return CompileHelpProject(projectFile, onMessage, onFile);
    }
    const std::string chmFile =
        JoinPath(folder.empty() ? "." : folder, RemoveExtension(ExtractFileName(projectFile)) + ".chm");
    // A file left from an earlier run of the same name must not pass for the result.
    ::unlink(chmFile.c_str());
    bool keepGoing = true;
    TChmWriteCallbacks callbacks;
    callbacks.OnMessage = [&](const std::string& line) { Report(onMessage, line); };
    callbacks.OnProgress = [&](double fraction) {
        if (onProgress && !onProgress(fraction)) keepGoing = false;
    };
    callbacks.KeepGoing = [&] { return keepGoing && !InterruptRequested(); };
    callbacks.OnError = [&](const std::string& reason) { Report(onMessage, reason); };
    callbacks.OnFilesRead = onFilesRead;
    TChmWriteOptions options;
    options.MemoryFiles = memoryFiles;
    options.KeptFiles = keptFiles;
    return WriteChmFromProject(projectFile, chmFile, options, callbacks);
}
