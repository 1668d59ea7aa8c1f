#pragma once
// Shared by the demo's tests: a scratch folder of a test's own, and the
// demo's scene and texture files written into one.
#include "tools/demo/image_files.h"
#include "tools/demo/scene.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace vendrake::test {

class TScratchFolder {
public:
    TScratchFolder()
        : FPath(std::filesystem::temp_directory_path() /
                ("vendrake_demo_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                 std::to_string(Counter()++)))
    {
        std::filesystem::remove_all(FPath);
        std::filesystem::create_directories(FPath);
    }
    ~TScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return (FPath / name).string(); }

private:
    static int& Counter()
    {
        static int counter = 0;
        return counter;
    }
    std::filesystem::path FPath;
};

// The scene and the texture files it names (not the soundtrack, which takes
// a while to make); returns the scene's path.
inline std::string WriteDemoScene(const TScratchFolder& folder)
{
    for (const demo::TDemoFile& file : demo::TextureFiles())
        demo::WriteFileBytes(folder / file.Name, file.Bytes);
    const std::string scene = folder / demo::SceneFileName;
    demo::WriteFileBytes(scene, demo::SceneBytes());
    return scene;
}

} // namespace vendrake::test
