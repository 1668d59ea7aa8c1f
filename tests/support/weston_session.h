#pragma once
// A Wayland desktop for X programs: weston with its desktop shell, drawn into
// a window on an Xvfb of its own (whose keyboard and pointer become the
// seat's), running Xwayland for X clients. X clients connect to Name(). The
// whole session stops when the object goes.
#include <regex>
#include <stdexcept>
#include <string>

#include "tests/support/x_server.h"

namespace vendrake::test {

class TWestonSession {
public:
    TWestonSession() : FFolder("vendrake-weston")
    {
        // Its runtime folder (mode 0700, as weston demands) holds the
        // Wayland socket; no weston.ini of the user's is read.
        FPid = SpawnProcess("/usr/bin/weston",
                            {"--backend=x11-backend.so", "--use-pixman", "--width=1024", "--height=768",
                             "--xwayland", "--no-config", "--idle-time=0", "--log=" + Log()},
                            FFolder / "weston.out", FFolder / "weston.out",
                            {.Environment = {"DISPLAY=" + FOuter.Name(), "XDG_RUNTIME_DIR=" + FFolder.Path(),
                                             "HOME=" + FFolder.Path(), "WAYLAND_DISPLAY", "WAYLAND_SOCKET"},
                             .Folder = {},
                             .OwnGroup = true});
        // Weston takes the lowest free display number and says which in its
        // log; Xwayland itself starts with the first client.
        const std::regex listening("xserver listening on display :([0-9]+)");
        std::smatch match;
        std::string log;
        if (WaitForChild(FPid, [&] { return std::regex_search(log = ReadTextFile(Log()), match, listening); }, 30)) {
            FNumber = std::stoi(match[1]);
            FName = ":" + std::to_string(FNumber);
            // Its window manager must be there before the first window maps.
            if (!WaitForChild(
                    FPid,
                    [&] {
                        return DisplayLockOwner(FNumber) == FPid && DisplayAnswers(FName) &&
                               ReadTextFile(Log()).find("created wm") != std::string::npos;
                    },
                    30))
                FName.clear();
        }
        if (FName.empty()) {
            const std::string why = ReadTextFile(Log()) + ReadTextFile(FFolder / "weston.out");
            Stop();
            throw std::runtime_error("weston did not start Xwayland: " + why);
        }
    }
    ~TWestonSession() { Stop(); }
    TWestonSession(const TWestonSession&) = delete;
    TWestonSession& operator=(const TWestonSession&) = delete;

    // Xwayland's display, ":0" say.
    const std::string& Name() const { return FName; }
    // The Xvfb that shows weston's window.
    const std::string& OuterName() const { return FOuter.Name(); }
    std::string Log() const { return FFolder / "weston.log"; }

private:
    void Stop()
    {
        StopProcessGroup(FPid);
        // Weston removes Xwayland's lock and socket on its way out; a weston
        // that had to be killed leaves them, still naming it.
        if (FNumber >= 0 && FPid > 0 && DisplayLockOwner(FNumber) == FPid) {
            std::error_code ignored;
            std::filesystem::remove(DisplaySocket(FNumber), ignored);
            std::filesystem::remove(DisplayLockFile(FNumber), ignored);
        }
        FPid = -1;
    }

    TXvfb FOuter{1024, 768};
    TServerFolder FFolder;
    pid_t FPid = -1;
    int FNumber = -1;
    std::string FName;
};

} // namespace vendrake::test
