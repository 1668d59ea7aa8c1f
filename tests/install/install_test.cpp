// The project as `cmake --install` lays it out under a prefix of its own:
// the files where they belong, the manual pages in step with the programs'
// usage, and the programs running from there, away from the build.
#include <gtest/gtest.h>

#include "tests/support/x_server.h"

#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace vendrake::test {
namespace {

namespace fs = std::filesystem;

struct TRun {
    int Exit = -1;
    std::string Out;
    std::string Err;
};

// Runs program to its end in folder, with DISPLAY as given (removed when
// empty).
TRun RunToEnd(const TServerFolder& scratch, const std::string& program, std::vector<std::string> args,
              const std::string& folder, const std::string& display = {})
{
    const std::string out = scratch / "run.out", err = scratch / "run.err";
    const pid_t pid = SpawnProcess(program, std::move(args), out, err,
                                   {.Environment = {display.empty() ? "DISPLAY" : "DISPLAY=" + display},
                                    .Folder = folder, .OwnGroup = false});
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadTextFile(out), ReadTextFile(err)};
}

// The no-fill block of a page's OPTIONS section, as it reads on screen.
std::string PageOptions(const std::string& page)
{
    const std::string start = ".SH OPTIONS\n.nf\n";
    const std::size_t from = page.find(start);
    const std::size_t to = page.find("\n.fi\n", from);
    if (from == std::string::npos || to == std::string::npos)
        return "(no OPTIONS section)";
    std::string troff = page.substr(from + start.size(), to + 1 - from - start.size()), text;
    for (std::size_t i = 0; i < troff.size(); ++i) {
        if (troff[i] != '\\' || i + 1 == troff.size()) {
            text += troff[i];
        } else if (troff[++i] == '-') {
            text += '-';
        } else if (troff[i] == 'e') {
            text += '\\';
        } else if (troff[i] != '&') {
            text += "(unknown escape)";
        }
    }
    return text;
}

class Install : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Prefix = std::make_unique<TServerFolder>("vendrake-prefix");
        Scratch = std::make_unique<TServerFolder>("vendrake-install");
        const TRun install = RunToEnd(*Scratch, CMAKE_PROGRAM, {"--install", BUILD_DIR, "--prefix", Prefix->Path()},
                                 Scratch->Path());
        ASSERT_EQ(install.Exit, 0) << install.Out << install.Err;
    }
    static void TearDownTestSuite()
    {
        Prefix.reset();
        Scratch.reset();
    }
    static std::string In(const std::string& path) { return *Prefix / path; }

    static std::unique_ptr<TServerFolder> Prefix;
    static std::unique_ptr<TServerFolder> Scratch;
};
std::unique_ptr<TServerFolder> Install::Prefix;
std::unique_ptr<TServerFolder> Install::Scratch;

TEST_F(Install, PutsEveryFileWhereItBelongsAndThePagesMatchTheUsage)
{
    const std::string data = DATA_DIR;
    for (const std::string& file :
         {std::string(BIN_DIR) + "/vendrake", std::string(BIN_DIR) + "/y3d", std::string(PLUGIN),
          std::string(INCLUDE_DIR) + "/vendrake/plugin_api.h", std::string(DEMO_DIR) + "/ZuzezurAdor.y3d",
          std::string(DEMO_DIR) + "/vendrake.mp3", std::string(DEMO_DIR) + "/sky.jpg",
          std::string(DEMO_DIR) + "/halo.png", std::string(MAN_DIR) + "/man1/vendrake.1",
          std::string(MAN_DIR) + "/man1/y3d.1", data + "/applications/vendrake.desktop",
          data + "/icons/hicolor/48x48/apps/vendrake.png", data + "/bash-completion/completions/y3d"})
        EXPECT_TRUE(fs::is_regular_file(In(file))) << file;
    // Only the demo's own files, whatever else the build folder's demo holds.
    EXPECT_EQ(std::distance(fs::directory_iterator(In(DEMO_DIR)), fs::directory_iterator()), 8);

    for (const std::string program : {"vendrake", "y3d"}) {
        const TRun help = RunToEnd(*Scratch, In(std::string(BIN_DIR) + "/" + program), {"--help"}, Scratch->Path());
        EXPECT_EQ(help.Exit, 0) << program;
        EXPECT_EQ(PageOptions(ReadTextFile(In(std::string(MAN_DIR) + "/man1/" + program + ".1"))), help.Out)
            << program;
    }
}

TEST_F(Install, TheProgramsRunFromAnyFolderAndPlayTheInstalledDemo)
{
    TServerFolder empty("vendrake-elsewhere");
    const TRun tree = RunToEnd(*Scratch, In(std::string(BIN_DIR) + "/y3d"),
                          {"tree", In(std::string(DEMO_DIR) + "/ZuzezurAdor.y3d")}, empty.Path());
    EXPECT_EQ(tree.Exit, 0) << tree.Err;
    EXPECT_NE(tree.Out.find("Plane01"), std::string::npos);

    // No scene where it starts: the installed demo plays, with its song.
    TXvfb server(1024, 768);
    const TRun play = RunToEnd(*Scratch, In(std::string(BIN_DIR) + "/vendrake"), {"--frames", "30", "--stats"},
                          empty.Path(), server.Name());
    EXPECT_EQ(play.Exit, 0) << play.Err;
    EXPECT_NE(play.Err.find("30 frames"), std::string::npos) << play.Err;
    EXPECT_TRUE(fs::is_empty(empty.Path()));
}

} // namespace
} // namespace vendrake::test
