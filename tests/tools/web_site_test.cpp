#include "scenefile/scene_writer.h"
#include "tests/support/mp3_encoder.h"
#include "tests/tools/y3d_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

using namespace vendrake;
namespace fs = std::filesystem;

namespace {

using TResult = test::TY3dResult;
using test::Y3d;

void WriteText(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A quarter of a second of silence.
void WriteMp3(const fs::path& path, int rate)
{
    const auto mp3 = test::EncodeMp3(std::vector<short>(std::size_t(rate) / 4), rate, 1, 64, true);
    WriteText(path, std::string(mp3.begin(), mp3.end()));
}

// A camera looking at a box whose material names these texture files, and an
// inline image, which needs no file.
void WriteScene(const fs::path& path, const std::vector<std::string>& textures)
{
    TFileStream out(path.string(), TFileMode::Create);
    TSceneWriter w(out);
    TCameraDesc cam;
    cam.Header = {1, 0, 0, "Camera01"};
    w.Camera(cam);
    w.Transform({1, {0, 0, 10}, {1, 0, 0, 0}});
    TMaterialDesc mat;
    mat.Header = {2, 0, 0, "Stone"};
    w.Material(mat, [&] { w.Map({1, 0}); });
    for (const std::string& name : textures) {
        TTexMapDesc tex;
        tex.Header.Name = name;
        w.TexMap(tex);
    }
    TTexMapDesc inlined;
    inlined.Header.Name = "inline.tga";
    inlined.Inline = true;
    inlined.Width = inlined.Height = 1;
    inlined.Pixels = {1, 2, 3};
    w.TexMap(inlined);
    TMeshDesc mesh;
    mesh.Header = {3, 0, 0, "Box"};
    mesh.Vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    w.Mesh(mesh);
}

std::set<std::string> FilesUnder(const fs::path& folder)
{
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (!entry.is_directory())
            files.insert(entry.path().lexically_relative(folder).string());
    return files;
}

const char* const PlayerFiles[] = {"index.html", "vendrake_page.js", "vendrake.js", "vendrake.wasm"};

class Y3dWeb : public ::testing::Test {
protected:
    fs::path Root = fs::temp_directory_path() / ("vendrake_web_" + std::to_string(::getpid()) + "_" +
                                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::path WebDir = Root / "build-web";
    fs::path SceneDir = Root / "scene";

    void SetUp() override
    {
        fs::remove_all(Root);
        fs::create_directories(SceneDir);
        for (const char* name : PlayerFiles)
            WriteText(WebDir / name, std::string("the web build's ") + name);
        ::setenv("VENDRAKE_WEB_DIR", WebDir.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("VENDRAKE_WEB_DIR");
        fs::remove_all(Root);
    }
};

} // namespace

TEST_F(Y3dWeb, WritesTheWebPlayerTheSceneItsTexturesMusicAndSiteJson)
{
    WriteScene(SceneDir / "show.y3d", {"glass.tga", "maps/rock.tga", "./glass.tga"});
    WriteText(SceneDir / "glass.tga", "glass pixels");
    WriteText(SceneDir / "maps/rock.tga", "rock pixels");
    WriteText(SceneDir / "unused.tga", "not named by the scene");
    WriteMp3(SceneDir / "vendrake.mp3", 32000);
    const fs::path out = Root / "site" / "demo"; // made, with its parent

    TResult r = Y3d({"web", (SceneDir / "show.y3d").string(), out.string()});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    std::set<std::string> expected = {"show.y3d", "glass.tga", "maps/rock.tga", "vendrake.mp3", "site.json"};
    for (const char* name : PlayerFiles) {
        expected.insert(name);
        EXPECT_EQ(ReadText(out / name), ReadText(WebDir / name)) << name;
    }
    EXPECT_EQ(FilesUnder(out), expected);
    for (const char* name : {"show.y3d", "glass.tga", "maps/rock.tga", "vendrake.mp3"})
        EXPECT_EQ(ReadText(out / name), ReadText(SceneDir / name)) << name;
    EXPECT_EQ(nlohmann::json::parse(ReadText(out / "site.json")),
              nlohmann::json::parse(R"({"scene": "show.y3d", "music": "vendrake.mp3", "musicRate": 32000,
                                        "files": ["show.y3d", "glass.tga", "maps/rock.tga"]})"));

    // Again into the same folder, with other music: files of the same names
    // are replaced, the old music stays as a file the site no longer names.
    WriteText(SceneDir / "glass.tga", "new glass pixels");
    WriteMp3(Root / "tunes" / "tune.mp3", 48000);
    r = Y3d({"web", "--music", (Root / "tunes" / "tune.mp3").string(), (SceneDir / "show.y3d").string(),
             out.string()});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(ReadText(out / "glass.tga"), "new glass pixels");
    EXPECT_EQ(ReadText(out / "tune.mp3"), ReadText(Root / "tunes" / "tune.mp3"));
    const auto site = nlohmann::json::parse(ReadText(out / "site.json"));
    EXPECT_EQ(site["music"], "tune.mp3");
    EXPECT_EQ(site["musicRate"], 48000);
    expected.insert("tune.mp3");
    EXPECT_EQ(FilesUnder(out), expected);
}

TEST_F(Y3dWeb, TexturesThePlayerCannotFindInTheScenesFolderAreLeftOutWithAWarning)
{
    WriteScene(SceneDir / "show.y3d",
               {"missing.tga", "ok.tga", "../outside.tga", (Root / "outside.tga").string(), "link.tga"});
    WriteText(SceneDir / "ok.tga", "ok");
    WriteText(Root / "outside.tga", "private");
    fs::create_symlink(Root / "outside.tga", SceneDir / "link.tga");
    const fs::path out = Root / "site";

    const TResult r = Y3d({"web", (SceneDir / "show.y3d").string(), out.string()});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "y3d: warning: texture missing.tga not found beside show.y3d; the scene plays without it\n"
                     "y3d: warning: texture ../outside.tga is left out: the name leads out of the scene's folder\n"
                     "y3d: warning: texture " + (Root / "outside.tga").string() +
                         " is left out: the name leads out of the scene's folder\n"
                         "y3d: warning: texture link.tga is left out: it links out of the scene's folder\n"
                         "y3d: warning: no music for show.y3d (looked for show.mp3 and vendrake.mp3 beside it); "
                         "the site plays without sound\n");
    EXPECT_EQ(nlohmann::json::parse(ReadText(out / "site.json")),
              nlohmann::json::parse(R"({"scene": "show.y3d", "music": null, "musicRate": null,
                                        "files": ["show.y3d", "ok.tga"]})"));
    EXPECT_FALSE(fs::exists(out / "link.tga"));
    EXPECT_FALSE(fs::exists(out / "outside.tga"));
}

TEST_F(Y3dWeb, WritesNothingWithoutTheWebPlayerABadSceneOrAWrongCommandLine)
{
    WriteScene(SceneDir / "show.y3d", {});
    const std::string scene = (SceneDir / "show.y3d").string();
    const fs::path out = Root / "site";

    fs::remove(WebDir / "vendrake.wasm");
    TResult r = Y3d({"web", scene, out.string()});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "y3d: the web player is not built (looked in " + WebDir.string() + "): run scripts/web-build\n");
    WriteText(WebDir / "vendrake.wasm", "module");

    WriteText(SceneDir / "noise.mp3", std::string(4000, 'x'));
    r = Y3d({"web", scene, out.string(), "--music", (SceneDir / "noise.mp3").string()});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("noise.mp3"), std::string::npos) << r.Err;

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"web", scene}, {"web", scene, out.string(), "--fast"},
          {"web", scene, scene, out.string()}, {"web", scene, out.string(), "--music"}}) {
        r = Y3d(args);
        EXPECT_EQ(r.Status, 1) << args.size();
        EXPECT_EQ(r.Err.rfind("y3d: ", 0), 0u) << r.Err;
    }
    EXPECT_FALSE(fs::exists(out));
}
