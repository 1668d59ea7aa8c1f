#pragma once
// Starts a program as a child process with its standard output and error in
// files, for tests that run servers, recorders or the player itself.
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vendrake::test {

struct TSpawnOptions {
    // "NAME=value" replaces or adds NAME; a bare "NAME" removes it.
    std::vector<std::string> Environment;
    // The child's working folder; empty keeps the caller's.
    std::string Folder;
    // A process group of its own, so that it can be stopped together with
    // whatever it starts (StopProcessGroup). Such a child (a server) is also
    // sent SIGTERM should the test process die without stopping it.
    bool OwnGroup = false;
};

// Runs program with args; out and err may name the same file.
inline pid_t SpawnProcess(const std::string& program, std::vector<std::string> args, const std::string& out,
                          const std::string& err, const TSpawnOptions& options = {})
{
    auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        bool replaced = false;
        for (const std::string& mine : options.Environment)
            replaced |= nameOf(entry) == nameOf(mine);
        if (!replaced)
            env.push_back(entry);
    }
    for (const std::string& mine : options.Environment)
        if (mine.find('=') != std::string::npos)
            env.push_back(mine);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string path = program;
    std::vector<char*> argv{path.data()};
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const bool oneFile = out == err;
    const char* folder = options.Folder.empty() ? nullptr : options.Folder.c_str();

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("cannot fork");
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errFd = oneFile ? outFd : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (outFd < 0 || errFd < 0 || (folder && chdir(folder) != 0) || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0)
            _exit(127);
        if (options.OwnGroup) {
            setpgid(0, 0);
            if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent)
                _exit(127);
        }
        execve(path.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (options.OwnGroup)
        setpgid(pid, pid); // before the caller can signal the group, whichever runs first
    return pid;
}

// Whether any process of the group is still alive (not a zombie).
inline bool ProcessGroupAlive(pid_t group)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        if (!std::getline(in, stat) || stat.rfind(')') == std::string::npos)
            continue;
        // pid (comm) state ppid pgrp ...
        std::istringstream fields(stat.substr(stat.rfind(')') + 1));
        char state = 0;
        long parent = 0, pgrp = 0;
        if (fields >> state >> parent >> pgrp && pgrp == group && state != 'Z')
            return true;
    }
    return false;
}

// Stops a child started with OwnGroup and everything in its group: a polite
// SIGTERM to all of them first, so that servers remove their sockets and
// lock files and a window manager hands its windows back, then SIGKILL for
// whatever is left after `seconds`. Reaps the child, if that has not been
// done already.
inline void StopProcessGroup(pid_t pid, double seconds = 5)
{
    if (pid <= 0)
        return;
    kill(-pid, SIGTERM);
    bool reaped = false;
    for (int i = 0; i < static_cast<int>(seconds * 100); ++i) {
        const pid_t waited = waitpid(pid, nullptr, WNOHANG);
        reaped = reaped || waited == pid || (waited < 0 && errno == ECHILD);
        // The group outlives its leader while any member is left (a daemon
        // the child started), and its number is not reused before then.
        if (reaped && !ProcessGroupAlive(pid))
            break;
        usleep(10000);
    }
    kill(-pid, SIGKILL);
    if (!reaped)
        waitpid(pid, nullptr, 0);
}

} // namespace vendrake::test
