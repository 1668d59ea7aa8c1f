#pragma once
// A PipeWire server of the test's own, for as long as the object lives:
// pipewire, its session manager wireplumber and its PulseAudio server
// pipewire-pulse, with one null sink, "vendrake", as the default sink.
// PulseAudio clients find it through PULSE_SERVER=Address(). The three run
// without D-Bus, with a home, configuration and runtime folder of their own,
// and with the session manager told to leave sound cards, cameras and
// Bluetooth alone, so they neither need nor touch a user's session.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/spawn.h"

namespace vendrake::test {

class TPipeWireServer {
public:
    TPipeWireServer()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vendrake-pipewire-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a folder for the sound server");
        FFolder = pattern;
        const std::filesystem::path config = FFolder / "config" / "wireplumber";
        std::filesystem::create_directories(config / "main.lua.d");
        std::filesystem::create_directories(config / "bluetooth.lua.d");
        // Read after the packaged settings (50-...) and before they are acted on (90-...).
        std::ofstream(config / "main.lua.d" / "51-vendrake.lua")
            << "alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\n"
               "libcamera_monitor.enabled = false\n"
               "default_access.properties[\"enable-flatpak-portal\"] = false\n";
        std::ofstream(config / "bluetooth.lua.d" / "51-vendrake.lua") << "bluez_monitor.enabled = false\n";

        const std::string home = FFolder.string();
        FEnvironment = {"HOME=" + home, "XDG_RUNTIME_DIR=" + home, "XDG_CONFIG_HOME=" + home + "/config",
                        "XDG_STATE_HOME=" + home + "/state", "PIPEWIRE_RUNTIME_DIR=" + home,
                        "PULSE_SERVER=" + Address(), "DBUS_SESSION_BUS_ADDRESS", "PIPEWIRE_REMOTE"};
        Spawn("/usr/bin/pipewire", {});
        if (!WaitFor([&] { return std::filesystem::exists(FFolder / "pipewire-0"); }))
            Fail("pipewire did not start");
        Spawn("/usr/bin/wireplumber", {});
        Spawn("/usr/bin/pipewire-pulse", {});
        if (!WaitFor([&] { return Run("/usr/bin/pactl", {"info"}); }))
            Fail("pipewire-pulse does not answer");
        // The sink is there once the session manager has made it the default.
        if (!Run("/usr/bin/pactl", {"load-module", "module-null-sink", "sink_name=vendrake"}) ||
            !WaitFor([&] {
                return Run("/usr/bin/pactl", {"set-default-sink", "vendrake"}) &&
                       Run("/bin/sh", {"-c", "pactl info | grep -qx 'Default Sink: vendrake'"});
            }))
            Fail("no null sink");
    }
    ~TPipeWireServer() { Stop(); }
    TPipeWireServer(const TPipeWireServer&) = delete;
    TPipeWireServer& operator=(const TPipeWireServer&) = delete;

    std::string Address() const { return "unix:" + (FFolder / "pulse" / "native").string(); }
    // What the servers and the last client said, each under its name.
    std::string Log() const
    {
        std::string log;
        for (const char* name : {"log.pipewire", "log.wireplumber", "log.pipewire-pulse", "pactl.log"}) {
            std::ifstream in(FFolder / name);
            std::ostringstream text;
            text << in.rdbuf();
            log += std::string("\n") + name + ": " + text.str();
        }
        return log;
    }

private:
    void Spawn(const std::string& program, std::vector<std::string> args)
    {
        const std::string out = (FFolder / ("log." + std::filesystem::path(program).filename().string())).string();
        FPids.push_back(SpawnProcess(program, std::move(args), out, out, {.Environment = FEnvironment, .Folder = {}}));
    }

    // Runs a client to its end; true when it succeeded.
    bool Run(const std::string& program, std::vector<std::string> args) const
    {
        const std::string log = (FFolder / "pactl.log").string();
        const pid_t pid = SpawnProcess(program, std::move(args), log, log, {.Environment = FEnvironment, .Folder = {}});
        int status = 0;
        return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    template <typename Condition> bool WaitFor(Condition condition) const
    {
        for (int i = 0; i < 500; ++i) {
            if (condition())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    [[noreturn]] void Fail(const std::string& what)
    {
        const std::string log = Log();
        Stop();
        throw std::runtime_error("the PipeWire server: " + what + log);
    }

    void Stop()
    {
        for (auto pid = FPids.rbegin(); pid != FPids.rend(); ++pid) {
            kill(*pid, SIGKILL);
            waitpid(*pid, nullptr, 0);
        }
        FPids.clear();
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }

    std::filesystem::path FFolder;
    std::vector<std::string> FEnvironment;
    std::vector<pid_t> FPids;
};

} // namespace vendrake::test
