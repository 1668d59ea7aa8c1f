#pragma once
// A PulseAudio server of the test's own, for as long as the object lives: one
// null sink, "vendrake", which is the default sink, and a socket in a
// temporary folder. Clients find it through PULSE_SERVER=Address(). It runs
// without D-Bus and with a home and runtime folder of its own, so it neither
// needs nor touches a user's session.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/spawn.h"

namespace vendrake::test {

class TPulseServer {
public:
    TPulseServer()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vendrake-pulse-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a folder for the sound server");
        FFolder = pattern;
        FSocket = (FFolder / "native").string();
        const std::string home = FFolder.string();
        FPid = SpawnProcess("/usr/bin/pulseaudio",
                            {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                             "--load=module-null-sink sink_name=vendrake",
                             "--load=module-native-protocol-unix auth-anonymous=1 socket=" + FSocket},
                            (FFolder / "log").string(), (FFolder / "log").string(),
                            {.Environment = {"HOME=" + home, "XDG_RUNTIME_DIR=" + home}, .Folder = {}});
        // Ready once its socket takes connections.
        for (int i = 0; i < 1000 && !Answers(); ++i) {
            if (waitpid(FPid, nullptr, WNOHANG) == FPid) {
                FPid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (FPid < 0 || !Answers()) {
            const std::string log = Log();
            Stop();
            throw std::runtime_error("the PulseAudio server did not start: " + log);
        }
    }
    ~TPulseServer() { Stop(); }
    TPulseServer(const TPulseServer&) = delete;
    TPulseServer& operator=(const TPulseServer&) = delete;

    std::string Address() const { return "unix:" + FSocket; }
    pid_t Pid() const { return FPid; }
    std::string Log() const
    {
        std::ifstream in(FFolder / "log");
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    bool Answers() const
    {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        FSocket.copy(address.sun_path, sizeof address.sun_path - 1);
        const bool answers = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (fd >= 0)
            close(fd);
        return answers;
    }

    void Stop()
    {
        if (FPid > 0) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
            FPid = -1;
        }
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }

    std::filesystem::path FFolder;
    std::string FSocket;
    pid_t FPid = -1;
};

} // namespace vendrake::test
