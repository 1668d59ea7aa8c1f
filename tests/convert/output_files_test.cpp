// A conversion's files: all of them written or none, named within their
// folder, with the permissions a new file gets.
#include "convert/output_files.h"
#include "tests/tools/demo_support.h"

#include <sys/stat.h>

namespace vendrake {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(OutputFiles, AFailureLeavesNoFileAndWrittenFilesAreOrdinaryOnesInTheirFolder)
{
    test::TScratchFolder folder;
    {
        // The second file cannot be made: the first, complete by then, goes
        // too, and so do the temporaries.
        TOutputFiles files;
        files.Add(folder / "scene.y3d", Bytes("scene"));
        files.AddNamed(folder.Path().string(), "image.png", Bytes("image"));
        files.Add(folder / "missing/other.bin", Bytes("other"));
        try {
            files.Commit();
            ADD_FAILURE() << "written into a missing folder";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), folder / "missing/other.bin" + ": cannot write: No such file or directory");
        }
        EXPECT_TRUE(fs::is_empty(folder.Path()));
    }

    TOutputFiles files;
    files.Add(folder / "scene.y3d", Bytes("scene"));
    const std::string name = files.AddNamed(folder.Path().string(), "../../up/.hidden.png", Bytes("image"));
    EXPECT_EQ(files.Commit(), (std::vector<std::string>{folder / name, folder / "scene.y3d"}));
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_NE(name[0], '.') << name;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    for (const std::string& file : {folder / name, folder / "scene.y3d"}) {
        struct stat s {};
        ASSERT_EQ(::lstat(file.c_str(), &s), 0) << file;
        EXPECT_TRUE(S_ISREG(s.st_mode)) << file;
        EXPECT_EQ(s.st_mode & 0777, 0666 & ~mask) << file;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 2);
}

} // namespace
} // namespace vendrake
