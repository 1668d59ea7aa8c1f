// y3d export: the demo written as glTF and imported back paints like the
// demo itself, and what glTF readers need is in the file.
#include "tests/tools/demo_support.h"

#include "platform/bitmap.h"
#include "render/image_readers.h"
#include "stream/stream.h"
#include "tools/y3d/commands.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace vendrake {
namespace {

namespace fs = std::filesystem;

TBitmap Frame(const std::string& scene, double seconds, const std::string& out)
{
    std::ostringstream o, err;
    EXPECT_EQ(y3d::Run({"render", scene, "--time", std::to_string(seconds), "--out", out}, o, err), 0)
        << err.str();
    TFileStream stream(out, TFileMode::OpenRead);
    return ReadImageByContent(stream);
}

double Psnr(const TBitmap& a, const TBitmap& b)
{
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < 3 * a.Width(); ++x) {
            const double d = double(a.ScanLine(y)[x]) - double(b.ScanLine(y)[x]);
            sum += d * d;
        }
    const double mse = sum / (3.0 * a.Width() * a.Height());
    return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99;
}

TEST(SceneExport, TheDemoThroughGlbAndBackPaintsLikeTheDemo)
{
    test::TScratchFolder demo, exported, back;
    const std::string scene = test::WriteDemoScene(demo);
    std::ostringstream out, err;
    ASSERT_EQ(y3d::Run({"export", scene, exported / "demo.glb"}, out, err), 0) << err.str();
    // The lights the player does not paint and the wireframe are named.
    EXPECT_NE(err.str().find("light Sun is left out"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("material Cage is drawn as lines"), std::string::npos) << err.str();
    ASSERT_EQ(y3d::Run({"import", exported / "demo.glb", back / "demo.y3d"}, out, err), 0) << err.str();
    // The glow planes get back the texture the player adds, not the one
    // blended in viewers.
    EXPECT_FALSE(fs::exists(back / "demo_halo_glow.png"));
    {
        TFileStream a(demo / "halo.png", TFileMode::OpenRead), b(back / "demo_halo.png", TFileMode::OpenRead);
        const TBitmap original = ReadImageByContent(a), restored = ReadImageByContent(b);
        ASSERT_EQ(restored.Width(), original.Width());
        ASSERT_EQ(restored.Height(), original.Height());
        ASSERT_EQ(BitsPerPixel(restored.PixelFormat()), BitsPerPixel(original.PixelFormat()));
        int worst = 0;
        for (int y = 0; y < original.Height(); ++y)
            for (int x = 0; x < original.Width() * BitsPerPixel(original.PixelFormat()) / 8; ++x)
                worst = std::max(worst, std::abs(int(original.ScanLine(y)[x]) - int(restored.ScanLine(y)[x])));
        EXPECT_LE(worst, 1);
    }
    // At 75 s the wireframe cage fills the middle of the picture.
    for (const double t : {20.0, 50.0, 75.0}) {
        const double psnr = Psnr(Frame(scene, t, demo / "a.png"), Frame(back / "demo.y3d", t, back / "b.png"));
        RecordProperty("psnr_at_" + std::to_string(int(t)), std::to_string(psnr));
        EXPECT_GE(psnr, 30) << "at " << t << " s";
    }
}

TEST(SceneExport, GltfNamesItsBufferAndImagesBesideIt)
{
    test::TScratchFolder demo, exported;
    const std::string scene = test::WriteDemoScene(demo);
    std::ostringstream out, err;
    ASSERT_EQ(y3d::Run({"export", scene, exported / "demo.gltf"}, out, err), 0) << err.str();
    std::ifstream in(exported / "demo.gltf");
    const nlohmann::json doc = nlohmann::json::parse(in);
    EXPECT_EQ(doc["asset"]["version"], "2.0");
    const std::string bin = doc["buffers"][0]["uri"];
    EXPECT_EQ(fs::file_size(exported.Path() / bin), doc["buffers"][0]["byteLength"].get<std::size_t>());
    for (const auto& image : doc["images"])
        EXPECT_TRUE(fs::exists(exported.Path() / image["uri"].get<std::string>())) << image.dump();
    // The camera comes first, as readers take the first one; the beacon
    // carries the painted light.
    EXPECT_EQ(doc["nodes"][doc["scenes"][0]["nodes"][0].get<int>()]["camera"], 0);
    const auto& lights = doc["extensions"]["KHR_lights_punctual"]["lights"];
    ASSERT_EQ(lights.size(), 1u);
    // The beacon's unattenuated light, 1.3 times white, in candela: lit
    // surfaces some 150 to 400 units away get the player's brightness.
    const double candela = lights[0]["intensity"];
    EXPECT_GT(candela, 1.3 * 3.14159 * 150 * 150);
    EXPECT_LT(candela, 1.3 * 3.14159 * 400 * 400);
    // The glow planes blend over the scene with textures of their own whose
    // alpha is the glow; the wireframe's lines are unlit.
    for (const auto& node : doc["nodes"]) {
        const std::string name = node.value("name", "");
        if (!node.contains("mesh") || (name.rfind("Plane0", 0) != 0 && name != "Cage"))
            continue;
        for (const auto& primitive : doc["meshes"][node["mesh"].get<std::size_t>()]["primitives"]) {
            const auto& material = doc["materials"][primitive["material"].get<std::size_t>()];
            if (name == "Cage") {
                EXPECT_EQ(primitive["mode"], 1);
                EXPECT_TRUE(material["extensions"].contains("KHR_materials_unlit"));
                continue;
            }
            EXPECT_EQ(material["alphaMode"], "BLEND") << name;
            const auto& texture = doc["textures"][material["emissiveTexture"]["index"].get<std::size_t>()];
            const std::string image = doc["images"][texture["source"].get<std::size_t>()]["uri"];
            EXPECT_NE(image.find("_glow"), std::string::npos) << name;
        }
    }
    EXPECT_EQ(doc["animations"][0]["samplers"][0]["interpolation"], "LINEAR");

    // A scene that is not there leaves nothing behind.
    test::TScratchFolder empty;
    EXPECT_EQ(y3d::Run({"export", empty / "none.y3d", empty / "none.glb"}, out, err), 1);
    EXPECT_TRUE(fs::is_empty(empty.Path()));
}

} // namespace
} // namespace vendrake
