#pragma once
// X servers a test starts for itself: Xvfb of a given size on a display
// number of its own, stopped with whatever it started when the object goes,
// however the test ends.
// gtest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include "tests/support/spawn.h"

namespace vendrake::test {

// The test script and the other developer tools take display numbers below
// this; weston picks the lowest free one for its Xwayland.
constexpr int FirstTestDisplay = 170;

// A fresh folder under the temporary directory (mode 0700), removed with its
// contents.
class TServerFolder {
public:
    explicit TServerFolder(const std::string& prefix)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a folder for " + prefix);
        FPath = pattern;
    }
    ~TServerFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TServerFolder(const TServerFolder&) = delete;
    TServerFolder& operator=(const TServerFolder&) = delete;

    std::string operator/(const std::string& name) const { return (FPath / name).string(); }
    std::string Path() const { return FPath.string(); }

private:
    std::filesystem::path FPath;
};

inline std::string ReadTextFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::string DisplayLockFile(int number) { return "/tmp/.X" + std::to_string(number) + "-lock"; }
inline std::string DisplaySocket(int number) { return "/tmp/.X11-unix/X" + std::to_string(number); }

// The process that holds display number's lock file, or -1.
inline pid_t DisplayLockOwner(int number)
{
    long pid = -1;
    std::ifstream(DisplayLockFile(number)) >> pid;
    return static_cast<pid_t>(pid);
}

// A server answers on display name (and can be opened by the program).
inline bool DisplayAnswers(const std::string& name)
{
    Display* display = XOpenDisplay(name.c_str());
    if (display)
        XCloseDisplay(display);
    return display != nullptr;
}

// Polls for up to seconds until ready() holds; false when it did not, or at
// once when the child pid has ended (it is then reaped).
inline bool WaitForChild(pid_t pid, const std::function<bool()>& ready, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return false;
        if (ready())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

class TXvfb {
public:
    // A screen of width by height, 24 bits deep, with GLX and RandR: the one
    // size RandR then offers.
    TXvfb(int width, int height) : FFolder("vendrake-xvfb")
    {
        const std::string log = FFolder / "xvfb.log";
        const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        for (int n = FirstTestDisplay; n < FirstTestDisplay + 100; ++n) {
            if (std::filesystem::exists(DisplaySocket(n)) || std::filesystem::exists(DisplayLockFile(n)))
                continue;
            const std::string name = ":" + std::to_string(n);
            const pid_t pid = SpawnProcess("/usr/bin/Xvfb",
                                           {name, "-screen", "0", screen, "-nolisten", "tcp", "-noreset",
                                            "+extension", "GLX", "+extension", "RANDR"},
                                           log, log, {.Environment = {}, .Folder = {}, .OwnGroup = true});
            // Ours once the lock names it: another server may have taken the
            // number in the meantime, and ours then gives up.
            if (WaitForChild(pid, [&] { return DisplayLockOwner(n) == pid && DisplayAnswers(name); }, 15)) {
                FPid = pid;
                FName = name;
                return;
            }
            StopProcessGroup(pid);
            if (DisplayLockOwner(n) == -1 && !std::filesystem::exists(DisplaySocket(n)))
                break; // the number was free: Xvfb itself failed
        }
        throw std::runtime_error("Xvfb did not start: " + ReadTextFile(log));
    }
    ~TXvfb() { StopProcessGroup(FPid); }
    TXvfb(const TXvfb&) = delete;
    TXvfb& operator=(const TXvfb&) = delete;

    // ":170"
    const std::string& Name() const { return FName; }

private:
    TServerFolder FFolder;
    pid_t FPid = -1;
    std::string FName;
};

} // namespace vendrake::test
