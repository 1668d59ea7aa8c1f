#include "render/texture.h"

#include "stream/chunk.h"
#include "stream/stream.h"
#include "platform/bitmap.h"
#include "scene/control.h"
#include "tests/support/gl_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vendrake;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

namespace {

const void* const Ptr = &Ptr; // any non-null pointer: logs as "ptr"

void WriteNodeHeader(TStream& s, const std::string& name)
{
    s.WriteInt32(4);  // Id
    s.WriteInt32(-1); // ParentId
    s.WriteInt32(0);
    s.WriteInt32(std::int32_t(name.size()));
    s.WriteBuffer(name.data(), name.size());
}

void WriteInlineMap(TStream& s, std::int32_t w, std::int32_t h, std::int32_t c, std::int32_t bits,
                    const Bytes& pixels)
{
    WriteNodeHeader(s, "inline");
    for (std::int32_t v : {1, w, h, c, bits})
        s.WriteInt32(v);
    s.WriteBuffer(pixels.data(), pixels.size());
}

void WriteFileMap(TStream& s, const std::string& fileName)
{
    WriteNodeHeader(s, fileName);
    s.WriteInt32(0);
}

std::shared_ptr<TgrTexMap2d> ReadInlineMap(std::int32_t w, std::int32_t h, std::int32_t c, const Bytes& pixels,
                                           std::int32_t bits = 8)
{
    TMemoryStream s;
    WriteInlineMap(s, w, h, c, bits, pixels);
    s.Seek(0);
    auto map = std::make_shared<TgrTexMap2d>();
    map->ReadFromStream(s, false);
    EXPECT_EQ(s.Position(), s.Size());
    return map;
}

// A top-first 24-bit Targa whose pixel (x, y) is B = x mod 256, G = y, R = 7.
Bytes GradientTarga(int w, int h)
{
    Bytes b{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, std::uint8_t(w), std::uint8_t(w >> 8), std::uint8_t(h),
            std::uint8_t(h >> 8), 24, 0x20};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.insert(b.end(), {std::uint8_t(x), std::uint8_t(y), 7});
    return b;
}

class TTempDir {
public:
    TTempDir() : FPath(std::filesystem::path(testing::TempDir()) / ("texture_test." + std::to_string(getpid())))
    {
        std::filesystem::create_directories(FPath);
    }
    ~TTempDir() { std::filesystem::remove_all(FPath); }
    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        const std::string file = (FPath / name).string();
        TFileStream s(file, TFileMode::Create);
        s.WriteBuffer(bytes.data(), bytes.size());
        return file;
    }

private:
    std::filesystem::path FPath;
};

Bytes PixelAt(const TgrTexmap& map, int x, int row)
{
    const std::size_t b = map.BitsPerPixel / 8u;
    const auto at = map.Pixels.begin() + std::ptrdiff_t((std::size_t(row) * std::size_t(map.Width) + std::size_t(x)) * b);
    return Bytes(at, at + std::ptrdiff_t(b));
}

Lines InlineUpload(GLuint name, int w, int h, GLenum format)
{
    return {RecordedCall("glGenTextures", 1, std::vector<GLuint>{name}),
            RecordedCall("glBindTexture", GL_TEXTURE_2D, name),
            RecordedCall("glTexParameteri", GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP),
            RecordedCall("glTexParameteri", GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP),
            RecordedCall("glTexParameteri", GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR),
            RecordedCall("glTexParameteri", GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR),
            RecordedCall("glPixelStorei", GL_UNPACK_ALIGNMENT, 1),
            RecordedCall("gluBuild2DMipmaps", GL_TEXTURE_2D, GLint(format), w, h, format, GL_UNSIGNED_BYTE, Ptr)};
}

Lines BindMap(GLuint name)
{
    return {RecordedCall("glPushAttrib", GL_TEXTURE_BIT | GL_ENABLE_BIT), RecordedCall("glEnable", GL_TEXTURE_2D),
            RecordedCall("glBindTexture", GL_TEXTURE_2D, name)};
}

Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST(Texture, InlineMapIsFlippedAndUploadedOnce)
{
    TGLRecorder recorder;
    const auto wide = ReadInlineMap(2, 1, 3, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(recorder.Log(), InlineUpload(1, 2, 1, GL_RGB));
    EXPECT_EQ(wide->Pixels, (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(wide->TextureName, 1u);
    EXPECT_EQ(wide->Name, "inline");
    EXPECT_TRUE(wide->Linear);
    EXPECT_FALSE(wide->Repeat);
    EXPECT_TRUE(wide->Mipmap);
    EXPECT_EQ(wide->BitsPerPixel, 24);

    recorder.ClearLog();
    const auto tall = ReadInlineMap(1, 2, 4, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(recorder.Log(), InlineUpload(2, 1, 2, GL_RGBA));
    EXPECT_EQ(tall->Pixels, (Bytes{5, 6, 7, 8, 1, 2, 3, 4})); // bottom row first
    EXPECT_EQ(tall->Format, unsigned(GL_RGBA));

    // Painted twice, it only binds its texture object.
    recorder.ClearLog();
    tall->Action();
    tall->Action();
    const Lines once = BindMap(2) + Lines{"glPopAttrib()"};
    EXPECT_EQ(recorder.Log(), once + once);

    // Components other than bytes: the flip still moves whole rows of the
    // buffer, and never past its end.
    const auto deep = ReadInlineMap(1, 2, 3, {1, 2, 3, 4, 5, 6}, 16);
    EXPECT_EQ(deep->BitsPerPixel, 48);
    EXPECT_EQ(deep->Pixels, (Bytes{4, 5, 6, 1, 2, 3}));
}

TEST(Texture, InlineSizesAreCheckedBeforeAllocating)
{
    TGLRecorder recorder;
    auto error = [](std::int32_t w, std::int32_t h, std::int32_t c, std::size_t available) {
        TMemoryStream s;
        WriteInlineMap(s, w, h, c, 8, Bytes(available, 0));
        s.Seek(0);
        TgrTexMap2d map;
        try {
            map.ReadFromStream(s, false);
        } catch (const EReadError& e) {
            EXPECT_TRUE(map.Pixels.empty());
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(error(-2, 3, 3, 100), "Stream read error in memory at byte offset 26: inline image of -2 x 3 pixels "
                                    "with 3 bytes each");
    EXPECT_EQ(error(2, 2, 3, 11), "Stream read error in memory at byte offset 42: inline image of 2 x 2 x 3 bytes "
                                  "with 11 bytes left");
    EXPECT_NE(error(65536, 65536, 4, 16).find("inline image of 65536 x 65536 x 4 bytes"), std::string::npos);
    EXPECT_TRUE(recorder.Log().empty());
}

TEST(Texture, FileMapsArePowerOfTwoSizedAndUploadedOnceIntoTheirOwnTexture)
{
    TTempDir dir;
    const std::string file = dir.Write("gradient.tga", GradientTarga(300, 200));
    TGLRecorder recorder;
    TMemoryStream s;
    WriteFileMap(s, file);
    s.Seek(0);
    TgrTexMap2d map;
    map.ReadFromStream(s, false);
    EXPECT_TRUE(recorder.Log().empty()); // nothing goes to the GL while loading
    EXPECT_EQ(map.Width, 512);
    EXPECT_EQ(map.Height, 256);
    EXPECT_EQ(map.BitsPerPixel, 24);
    EXPECT_EQ(map.Format, unsigned(GL_RGB));
    EXPECT_EQ(map.TextureName, 0u);
    EXPECT_FALSE(map.Linear || map.Repeat || map.Mipmap);
    // Memory row 0 is the image's bottom row; B, G, R became R, G, B.
    EXPECT_EQ(PixelAt(map, 0, 0), (Bytes{7, 199, 0}));
    EXPECT_EQ(PixelAt(map, 511, 255), (Bytes{7, 0, 299 % 256}));
    EXPECT_EQ(PixelAt(map, 256, 128), (Bytes{7, 99, 150}));

    // The first paint gives the map a texture object and uploads the image
    // into it, nearest-filtered, clamped, without mipmaps; later paints bind.
    map.Action();
    map.Action();
    const Lines first = {
        RecordedCall("glPushAttrib", GL_TEXTURE_BIT | GL_ENABLE_BIT), RecordedCall("glEnable", GL_TEXTURE_2D),
        RecordedCall("glGenTextures", 1, std::vector<GLuint>{1}), RecordedCall("glBindTexture", GL_TEXTURE_2D, 1),
        RecordedCall("glTexParameteri", GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP),
        RecordedCall("glTexParameteri", GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP),
        RecordedCall("glTexParameteri", GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST),
        RecordedCall("glTexParameteri", GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST),
        RecordedCall("glPixelStorei", GL_UNPACK_ALIGNMENT, 1),
        RecordedCall("glTexImage2D", GL_TEXTURE_2D, 0, GLint(GL_RGB), 512, 256, 0, GL_RGB, GL_UNSIGNED_BYTE, Ptr),
        "glPopAttrib()"};
    EXPECT_EQ(recorder.Log(), first + BindMap(1) + Lines{"glPopAttrib()"});
    EXPECT_EQ(map.TextureName, 1u);
    EXPECT_FALSE(map.Mipmap);

    // A forced width replaces the power of two; a power of two stays.
    map.LoadImageFile(file, 64, 0);
    EXPECT_EQ(map.Width, 64);
    EXPECT_EQ(map.Height, 256);
    map.LoadImageFile(dir.Write("square.tga", GradientTarga(256, 256)));
    EXPECT_EQ(map.Width, 256);
    EXPECT_EQ(map.Height, 256);
    EXPECT_EQ(PixelAt(map, 5, 0), (Bytes{7, 255, 5}));
}

TEST(Texture, UnreadableImagesLeaveTheMapEmptyAndLoadingGoesOn)
{
    TTempDir dir;
    Bytes cut = GradientTarga(4, 4);
    cut.resize(cut.size() - 5);
    const std::string broken = dir.Write("broken.tga", cut);
    const std::string noise = dir.Write("noise.jpg", Bytes(100, 0x42));
    TGLRecorder recorder;
    TMemoryStream s;
    WriteFileMap(s, dir.Write("unused", {}) + ".missing");
    WriteFileMap(s, broken);
    WriteFileMap(s, noise);
    WriteInlineMap(s, 1, 1, 3, 8, {1, 2, 3});
    s.Seek(0);
    std::vector<std::shared_ptr<TgrTexMap2d>> maps;
    for (int i = 0; i < 4; ++i) {
        maps.push_back(std::make_shared<TgrTexMap2d>());
        ASSERT_NO_THROW(maps.back()->ReadFromStream(s, false));
    }
    EXPECT_EQ(s.Position(), s.Size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(maps[std::size_t(i)]->Pixels.empty()) << i;
        EXPECT_EQ(maps[std::size_t(i)]->Width, 0) << i;
    }
    EXPECT_EQ(maps[3]->Pixels, (Bytes{1, 2, 3}));

    // Painted, an empty map still enables texturing and binds texture 0, but
    // uploads nothing.
    recorder.ClearLog();
    maps[0]->Action();
    const Lines log = recorder.Log();
    EXPECT_EQ(Lines(log.begin(), log.begin() + 3), BindMap(0));
    for (const std::string& line : log)
        EXPECT_EQ(line.find("glTexImage2D"), std::string::npos);
}

TEST(Texture, TextureObjectsGoWithTheirMapOnlyInTheContextThatMadeThem)
{
    TGLRecorder recorder;
    const HGLRC context = TGLRecorder::Context();
    const std::string deleted = RecordedCall("glDeleteTextures", 1, std::vector<GLuint>{1});
    const auto newMap = [] { return ReadInlineMap(1, 1, 3, {1, 2, 3}); };
    auto deletions = [&] {
        const Lines log = recorder.Log();
        return std::count_if(log.begin(), log.end(),
                             [](const std::string& line) { return line.rfind("glDeleteTextures", 0) == 0; });
    };

    // Made and freed while its context is current: the name goes too.
    ASSERT_TRUE(ActivateContext(nullptr, context));
    auto map = newMap();
    recorder.ClearLog();
    map.reset();
    EXPECT_EQ(recorder.Log(), Lines{deleted});

    // Freed with no context current, or made with none current: nothing is
    // deleted (the context frees its names when it goes).
    map = newMap();
    DeactivateContext();
    recorder.ClearLog();
    map.reset();
    map = newMap();
    ASSERT_TRUE(ActivateContext(nullptr, context));
    map.reset();
    EXPECT_EQ(deletions(), 0);

    // A context destroyed and a new one on the same handle: the old names
    // mean nothing there.
    map = newMap();
    DestroyContext(context);
    ASSERT_TRUE(ActivateContext(nullptr, context));
    recorder.ClearLog();
    map.reset();
    EXPECT_EQ(deletions(), 0);
    DeactivateContext();
}

TEST(Texture, CopyPixelsSwapsToRGBAndTurnsRowsBottomFirst)
{
    TgrTexMap2d map;
    TBitmap rgb(2, 2, TPixelFormat::pf24bit);
    const Bytes top{10, 20, 30, 11, 21, 31}, bottom{12, 22, 32, 13, 23, 33};
    std::copy(top.begin(), top.end(), rgb.ScanLine(0));
    std::copy(bottom.begin(), bottom.end(), rgb.ScanLine(1));
    map.CopyPixels(rgb);
    EXPECT_EQ(map.Format, unsigned(GL_RGB));
    EXPECT_EQ(map.Pixels, (Bytes{32, 22, 12, 33, 23, 13, 30, 20, 10, 31, 21, 11}));

    TBitmap rgba(1, 1, TPixelFormat::pf32bit);
    std::copy_n(Bytes{10, 20, 30, 40}.begin(), 4, rgba.ScanLine(0));
    map.CopyPixels(rgba);
    EXPECT_EQ(map.Format, unsigned(GL_RGBA));
    EXPECT_EQ(map.BitsPerPixel, 32);
    EXPECT_EQ(map.Pixels, (Bytes{30, 20, 10, 40}));

    // 16 bits and fewer: a buffer of the right size, left zero.
    map.CopyPixels(TBitmap(3, 2, TPixelFormat::pf8bit));
    EXPECT_EQ(map.Format, unsigned(GL_ALPHA));
    EXPECT_EQ(map.Pixels, Bytes(6, 0));
    map.CopyPixels(TBitmap(3, 2, TPixelFormat::pf15bit));
    EXPECT_EQ(map.Format, 0x8050u);
    EXPECT_EQ(map.BitsPerPixel, 15);
    EXPECT_EQ(map.Pixels.size(), 12u);
    // A device-dependent layout gives no pixels at all.
    map.CopyPixels(TBitmap(3, 2, TPixelFormat::pfDevice));
    EXPECT_TRUE(map.Pixels.empty());
    EXPECT_EQ(map.Width, 3);
}

TEST(Texture, PaletteGreyAndFifteenBitImagesArriveAsRGB)
{
    TgrTexMap2d map;
    // 2 x 1 colour-mapped: entries (B, G, R) 10, 20, 30 and 40, 50, 60.
    TMemoryStream mapped(Bytes{0, 1, 1, 0, 0, 2, 0, 24, 0, 0, 0, 0, 2, 0, 1, 0, 8, 0x20,
                               10, 20, 30, 40, 50, 60, 1, 0});
    map.LoadImageStream(mapped, 0, 0);
    EXPECT_EQ(map.Format, unsigned(GL_RGB));
    EXPECT_EQ(map.Pixels, (Bytes{60, 50, 40, 30, 20, 10}));

    TMemoryStream grey(Bytes{0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 8, 0, 77});
    map.LoadImageStream(grey, 0, 0);
    EXPECT_EQ(map.Pixels, (Bytes{77, 77, 77}));

    // Pure red and pure blue 5-5-5 words.
    TMemoryStream words(Bytes{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 16, 0, 0x00, 0x7C, 0x1F, 0x00});
    map.LoadImageStream(words, 0, 0);
    EXPECT_EQ(map.BitsPerPixel, 24);
    EXPECT_EQ(map.Pixels, (Bytes{255, 0, 0, 0, 0, 255}));
}

TEST(Texture, EnvironmentModesAndColour)
{
    TGLRecorder recorder;
    TgrTexEnvSimple env;
    env.EnvColor = {0.5f, 0.25f, 1, 0};
    env.SetMode(2);
    env.Action();
    env.SetMode(7);
    env.Action();
    const std::string colour = RecordedCall("glTexEnvfv", GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR,
                                            std::vector<float>{0.5f, 0.25f, 1, 0});
    EXPECT_EQ(recorder.Log(), (Lines{RecordedCall("glPushAttrib", GL_TEXTURE_BIT),
                                     RecordedCall("glTexEnvi", GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE),
                                     colour, "glPopAttrib()", RecordedCall("glPushAttrib", GL_TEXTURE_BIT), colour,
                                     "glPopAttrib()"}));
    EXPECT_EQ(env.asSimple(), &env);
    EXPECT_EQ(TgrTexEnv().asSimple(), nullptr);
}

TEST(Texture, TextureSelectsItsUnitAndRestoresEverything)
{
    TGLRecorder recorder;
    recorder.Provide({"glActiveTextureARB"});
    glExtensions.ARB_multitexture = true;
    recorder.SetIntegers(GL_ACTIVE_TEXTURE_ARB, {GL_TEXTURE2_ARB});
    const auto map = ReadInlineMap(1, 1, 4, {1, 2, 3, 4});

    // The loader's chain: texture (not restoring itself) with a blend child.
    int context = 0;
    TgrTexture texture(&context);
    texture.SetAutoRestore(false);
    texture.SetTexMap(map);
    EXPECT_FALSE(map->AutoRestore);
    EXPECT_EQ(texture.GetTexMap(), map);
    const auto& env = texture.GetTexEnv();
    EXPECT_FALSE(env->AutoRestore);
    EXPECT_EQ(env->Context, &context);
    EXPECT_EQ(&texture.GetTexEnv(), &env); // created once
    env->asSimple()->SetMode(2);
    texture.TexUnit = 1;
    auto blend = texture.Add(std::make_shared<TgrBlend>());
    blend->SetAutoRestore(false);
    blend->SourceFactor = GL_SRC_ALPHA;
    blend->DestFactor = GL_ONE_MINUS_SRC_ALPHA;

    recorder.ClearLog();
    texture.Action();
    const std::string active = RecordedCall("glGetIntegerv", GL_ACTIVE_TEXTURE_ARB, std::vector<GLint>{GL_TEXTURE2_ARB});
    const std::string unit1 = RecordedCall("glActiveTextureARB", GL_TEXTURE1_ARB);
    const std::string back = RecordedCall("glActiveTextureARB", GL_TEXTURE2_ARB);
    EXPECT_EQ(recorder.Log(),
              (Lines{RecordedCall("glPushAttrib", 0x000FFFFF), active, unit1,
                     RecordedCall("glPushAttrib", GL_TEXTURE_BIT),
                     RecordedCall("glTexEnvi", GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE),
                     RecordedCall("glTexEnvfv", GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, std::vector<float>{0, 0, 0, 0})} +
               BindMap(1) +
               Lines{RecordedCall("glPushAttrib", GL_COLOR_BUFFER_BIT), RecordedCall("glEnable", GL_BLEND),
                     RecordedCall("glBlendFunc", GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA), back}));

    recorder.ClearLog();
    texture.RestoreState();
    EXPECT_EQ(recorder.Log(), (Lines{"glPopAttrib()", active, unit1, "glPopAttrib()", "glPopAttrib()",
                                     RecordedCall("glDisable", GL_TEXTURE_2D), back, "glPopAttrib()"}));

    // A texture that restores itself leaves the unit alone in its restore step.
    TgrTexture own;
    own.SetTexMap(map);
    own.TexUnit = 1;
    recorder.ClearLog();
    own.Action();
    const Lines log = recorder.Log();
    const Lines restore(log.end() - 6, log.end());
    EXPECT_EQ(restore, (Lines{active, "glPopAttrib()", RecordedCall("glDisable", GL_TEXTURE_2D), back,
                              "glPopAttrib()", back}));
}

TEST(Texture, UnitsWithoutTheExtensionAndResettingUnits)
{
    TGLRecorder recorder;
    const auto map = ReadInlineMap(1, 1, 3, {1, 2, 3});
    TgrTexture texture;
    texture.SetTexMap(map);
    texture.TexUnit = 1;
    recorder.ClearLog();
    texture.Action();
    EXPECT_EQ(recorder.Log(), (Lines{RecordedCall("glPushAttrib", 0x000FFFFF)} + BindMap(1) +
                               Lines{"glPopAttrib()", RecordedCall("glDisable", GL_TEXTURE_2D), "glPopAttrib()"}));

    // The extension named without its entry point: nothing calls through
    // the empty reference.
    glExtensions.ARB_multitexture = true;
    recorder.ClearLog();
    texture.RestoreState();
    EXPECT_EQ(recorder.Log().size(), 3u);

    recorder.Provide({"glActiveTextureARB"});
    recorder.SetIntegers(GL_MAX_TEXTURE_UNITS_ARB, {2});
    texture.ResetUnits = true;
    texture.TexUnit = 9; // no such unit: not selected
    texture.TexMap = nullptr;
    recorder.ClearLog();
    texture.Action();
    Lines expected{RecordedCall("glPushAttrib", 0x000FFFFF),
                   RecordedCall("glGetIntegerv", GL_ACTIVE_TEXTURE_ARB, std::vector<GLint>{0}),
                   RecordedCall("glGetIntegerv", GL_MAX_TEXTURE_UNITS_ARB, std::vector<GLint>{2})};
    for (GLenum unit : {GL_TEXTURE0_ARB, GL_TEXTURE1_ARB})
        expected = expected + Lines{RecordedCall("glActiveTextureARB", unit), RecordedCall("glDisable", GL_TEXTURE_2D),
                                    RecordedCall("glDisable", GL_TEXTURE_1D),
                                    RecordedCall("glDisable", GL_TEXTURE_CUBE_MAP_ARB)};
    const Lines log = recorder.Log();
    EXPECT_EQ(Lines(log.begin(), log.begin() + 11), expected);
}

TEST(Texture, MapRecordKeepsItsValuesAndPaintsNothing)
{
    TGLRecorder recorder;
    TMemoryStream s;
    TChunkHeader{ChunkGroupKey, ChunkTypeMap, 0, 0, 44}.Write(s);
    s.WriteInt32(1); // kind
    s.WriteInt32(3); // texture number
    const std::uint64_t second = 0x1122334455667788u, first = 0x99AABBCCDDEEFF00u;
    s.WriteBuffer(&second, 8);
    s.WriteBuffer(&first, 8);
    s.Seek(0);
    TgrMap map;
    EXPECT_TRUE(map.ReadFromStream(s, true));
    EXPECT_EQ(s.Position(), 44);
    EXPECT_EQ(map.MapKind, 1);
    EXPECT_EQ(map.TextureNumber, 3);
    EXPECT_EQ(map.Value2, second);
    EXPECT_EQ(map.Value1, first);

    map.Add(std::make_shared<TgrBlend>());
    map.Action();
    EXPECT_TRUE(recorder.Log().empty());
    EXPECT_TRUE(TgrMap::ClassRef().Create()->Is<TgrMap>());
    EXPECT_TRUE(TgrTexMap2d::ClassRef().Create()->Is<TgrTexmap>());
}
