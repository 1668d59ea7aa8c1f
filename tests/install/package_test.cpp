// The Debian package as a user gets it: apt-get installs it with the
// libraries it depends on, and the programs then work from any folder.
#include <gtest/gtest.h>

#include "tests/support/x_server.h"

#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace vendrake::test {
namespace {

namespace fs = std::filesystem;

struct TRun {
    int Exit = -1;
    std::string Output;
};

TRun RunToEnd(const TServerFolder& scratch, const std::string& program, std::vector<std::string> args,
              const std::string& folder, std::vector<std::string> environment = {"DISPLAY"})
{
    const std::string out = scratch / "run.out";
    const pid_t pid = SpawnProcess(program, std::move(args), out, out,
                                   {.Environment = std::move(environment), .Folder = folder, .OwnGroup = false});
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadTextFile(out)};
}

// apt-get as root, through sudo otherwise; it waits for another apt-get
// holding the lock rather than failing.
TRun AptGet(const TServerFolder& scratch, std::vector<std::string> args)
{
    args.insert(args.begin(), {"-y", "-q", "-o", "DPkg::Lock::Timeout=300"});
    std::vector<std::string> environment{"DISPLAY", "DEBIAN_FRONTEND=noninteractive"};
    if (geteuid() == 0)
        return RunToEnd(scratch, "/usr/bin/apt-get", std::move(args), scratch.Path(), environment);
    args.insert(args.begin(), "/usr/bin/apt-get");
    args.insert(args.begin(), "-n");
    return RunToEnd(scratch, "/usr/bin/sudo", std::move(args), scratch.Path(), environment);
}

TEST(Package, InstallsWithItsDependenciesAndRunsFromAnyFolder)
{
    TServerFolder scratch("vendrake-package");
    const TRun pack = RunToEnd(scratch, CPACK_PROGRAM, {"--config", CPACK_CONFIG, "-G", "DEB", "-B", scratch.Path()},
                               scratch.Path());
    ASSERT_EQ(pack.Exit, 0) << pack.Output;
    std::string deb;
    for (const auto& entry : fs::directory_iterator(scratch.Path()))
        if (entry.path().extension() == ".deb")
            deb = entry.path().string();
    ASSERT_FALSE(deb.empty()) << pack.Output;

    // Removed on the way out, however the test ends.
    struct TRemove {
        const TServerFolder& Scratch;
        ~TRemove() { AptGet(Scratch, {"remove", "vendrake"}); }
    } remove{scratch};
    const TRun install = AptGet(scratch, {"install", deb});
    ASSERT_EQ(install.Exit, 0) << install.Output;

    TServerFolder elsewhere("vendrake-elsewhere");
    TXvfb server(1024, 768);
    const TRun play = RunToEnd(scratch, "/usr/bin/vendrake", {"--frames", "30", "--stats"}, elsewhere.Path(),
                               {"DISPLAY=" + server.Name()});
    EXPECT_EQ(play.Exit, 0) << play.Output;
    EXPECT_NE(play.Output.find("30 frames"), std::string::npos) << play.Output;

    // y3d without a display: the demo written anew, a frame of the installed one.
    const TRun demo = RunToEnd(scratch, "/usr/bin/y3d", {"demo", "made"}, elsewhere.Path());
    EXPECT_EQ(demo.Exit, 0) << demo.Output;
    EXPECT_TRUE(fs::is_regular_file(elsewhere / "made/ZuzezurAdor.y3d"));
    const TRun render = RunToEnd(scratch, "/usr/bin/y3d",
                                 {"render", "/usr/share/vendrake/demo/ZuzezurAdor.y3d", "--time", "72", "--size",
                                  "160x120", "--out", "core.png"},
                                 elsewhere.Path());
    EXPECT_EQ(render.Exit, 0) << render.Output;
    EXPECT_GT(fs::file_size(elsewhere / "core.png"), 1000u);
}

} // namespace
} // namespace vendrake::test
