#pragma once
// Starts a program as a child process with its standard output and error in
// files, for tests that run servers, recorders or the player itself.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

extern char** environ;

namespace vendrake::test {

struct TSpawnOptions {
    // "NAME=value" replaces or adds NAME; a bare "NAME" removes it.
    std::vector<std::string> Environment;
    // The child's working folder; empty keeps the caller's.
    std::string Folder;
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

    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("cannot fork");
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errFd = oneFile ? outFd : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (outFd < 0 || errFd < 0 || (folder && chdir(folder) != 0) || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0)
            _exit(127);
        execve(path.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

} // namespace vendrake::test
