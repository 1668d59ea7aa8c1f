#pragma once
// Runs the vendrake program as a child process in a folder of the test's
// choosing, with its output captured in files, so tests can watch it from
// outside, signal it and read how it ended. Include it after gtest: Xlib
// defines None and Bool as macros.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "tests/support/spawn.h"

namespace vendrake::test {

class TProgram {
public:
    // Starts program with the working folder dir and the test's environment,
    // DISPLAY replaced by display (removed when there is none). Its standard
    // output and error go to files next to dir.
    TProgram(const std::string& program, const std::filesystem::path& dir,
             const std::optional<std::string>& display, std::vector<std::string> args = {})
        : FOut(dir.string() + ".stdout"), FErr(dir.string() + ".stderr")
    {
        FPid = SpawnProcess(program, std::move(args), FOut, FErr,
                            {.Environment = {display ? "DISPLAY=" + *display : "DISPLAY"}, .Folder = dir.string()});
    }

    ~TProgram()
    {
        if (Running()) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove(FOut, ignored);
        std::filesystem::remove(FErr, ignored);
    }
    TProgram(const TProgram&) = delete;
    TProgram& operator=(const TProgram&) = delete;

    pid_t Pid() const { return FPid; }

    bool Running()
    {
        if (FStatus)
            return false;
        int status = 0;
        if (waitpid(FPid, &status, WNOHANG) == FPid)
            FStatus = status;
        return !FStatus;
    }

    // Waits up to seconds for the program to end; true when it has.
    bool Wait(double seconds)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (Running()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    void Signal(int signal) { kill(FPid, signal); }

    // How it ended; only after Wait returned true.
    bool Exited() const { return FStatus && WIFEXITED(*FStatus); }
    int ExitStatus() const { return FStatus && WIFEXITED(*FStatus) ? WEXITSTATUS(*FStatus) : -1; }
    int TermSignal() const { return FStatus && WIFSIGNALED(*FStatus) ? WTERMSIG(*FStatus) : 0; }

    std::string Stdout() const { return Slurp(FOut); }
    std::string Stderr() const { return Slurp(FErr); }

private:
    static std::string Slurp(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string FOut;
    std::string FErr;
    pid_t FPid = -1;
    std::optional<int> FStatus;
};

// The program's viewable top-level window, found by its class (the
// application's title), or 0. A window manager may have put it in a frame:
// the whole tree is searched.
inline Window FindProgramWindow(Display* display, Window under = 0)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(display, under ? under : DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) {
            XClassHint hint{};
            XWindowAttributes attributes{};
            if (XGetClassHint(display, children[i], &hint)) {
                if (hint.res_class && std::string(hint.res_class) == "Vendrake" &&
                    XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable)
                    found = children[i];
                XFree(hint.res_name);
                XFree(hint.res_class);
            }
        }
        for (unsigned i = 0; i < count && !found; ++i)
            found = FindProgramWindow(display, children[i]);
    }
    if (children)
        XFree(children);
    return found;
}

// The program's drawing surface: its form's only child window, or 0.
inline Window SurfaceOf(Display* display, Window form)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window surface = 0;
    if (XQueryTree(display, form, &root, &parent, &children, &count) && count > 0)
        surface = children[0];
    if (children)
        XFree(children);
    return surface;
}

// What a window manager sends for its close button.
inline void RequestClose(Display* display, Window form)
{
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = form;
    close.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, form, False, NoEventMask, &close);
    XFlush(display);
}

} // namespace vendrake::test
