// What y3d import and export may do to the disk and to the memory: their
// files take no other file's place, textures come only from the source's
// own folder, and hostile sources fail fast, in one line, with no output.
#include "tests/tools/demo_support.h"

#include "scenefile/scene_writer.h"
#include "stream/stream.h"
#include "tools/demo/image_files.h"
#include "tools/y3d/commands.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>

namespace vendrake {
namespace {

namespace fs = std::filesystem;

struct TRun {
    int Status;
    std::string Out, Err;
};

TRun Y3d(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int status = y3d::Run(args, out, err);
    return {status, out.str(), err.str()};
}

std::string Text(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

// Every entry of a folder, hidden ones included, links as links.
std::set<std::string> Listing(const fs::path& folder)
{
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// A 2 by 2 BMP of 24 bits: a format the player does not read.
std::string Bmp()
{
    std::string bytes = "BM";
    const auto word = [&](std::uint32_t v, int size) {
        for (int i = 0; i < size; ++i)
            bytes += char(v >> (8 * i));
    };
    word(54 + 16, 4), word(0, 4), word(54, 4);
    word(40, 4), word(2, 4), word(2, 4), word(1, 2), word(24, 2), word(0, 4), word(16, 4);
    word(0, 4), word(0, 4), word(0, 4), word(0, 4);
    bytes += std::string("\xFF\x00\x00\x00\xFF\x00\x00\x00", 8) + std::string("\x00\x00\xFF\xFF\xFF\xFF\x00\x00", 8);
    return bytes;
}

// One textured triangle per material, each naming its image.
void WriteObj(const fs::path& folder, const std::vector<std::pair<std::string, std::string>>& materials)
{
    std::string obj = "mtllib model.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n", mtl;
    for (const auto& [name, image] : materials) {
        obj += "usemtl " + name + "\nf 1/1 2/2 3/3\n";
        mtl += "newmtl " + name + "\nKd 1 1 1\nmap_Kd " + image + "\n";
    }
    Write(folder / "model.obj", obj);
    Write(folder / "model.mtl", mtl);
}

// A scene file of one triangle that names these texture files.
void WriteScene(const std::string& path, const std::vector<std::string>& textures)
{
    TFileStream out(path, TFileMode::Create);
    TSceneWriter w(out);
    for (const std::string& name : textures) {
        TTexMapDesc map;
        map.Header.Name = name;
        w.TexMap(map);
    }
    TMeshDesc mesh;
    mesh.Header = {1, 0, 0, "Tri"};
    mesh.Vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    w.Mesh(mesh);
}

TEST(ConversionSafety, OutputsNeverTakeAnotherFilesPlaceAndLeaveNothingWhenTheyFail)
{
    test::TScratchFolder folder, elsewhere;
    const fs::path dir = folder.Path();
    // An OBJ whose texture is a BMP (written as tex.png), beside an
    // unrelated tex.png.
    WriteObj(dir, {{"Skin", "tex.bmp"}});
    Write(dir / "tex.bmp", Bmp());
    Write(dir / "tex.png", "someone else's picture");
    TRun r = Y3d({"import", dir / "model.obj", dir / "out.y3d"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, (dir / "tex_2.png").string() + "\n" + (dir / "out.y3d").string() + "\n");
    EXPECT_EQ(Text(dir / "tex.png"), "someone else's picture");
    EXPECT_NE(Y3d({"inspect", dir / "out.y3d"}).Out.find("TgrTexMap2d \"tex_2.png\""), std::string::npos);
    // Again: the same image is there already and serves.
    const std::set<std::string> before = Listing(dir);
    r = Y3d({"import", dir / "model.obj", dir / "out.y3d"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, (dir / "out.y3d").string() + "\n");
    EXPECT_EQ(Listing(dir), before);

    // A folder where the scene is to go: nothing at all is written.
    fs::create_directory(dir / "taken.y3d");
    fs::remove(dir / "tex_2.png");
    const std::set<std::string> unchanged = Listing(dir);
    r = Y3d({"import", dir / "model.obj", dir / "taken.y3d"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "y3d: " + (dir / "taken.y3d").string() + ": cannot write: a folder is in the way\n");
    EXPECT_EQ(Listing(dir), unchanged);

    // Links planted at the scene's name, at the texture's and at the name
    // temporaries once had: none is written through, and the links stay.
    const fs::path victim = elsewhere.Path() / "victim";
    Write(victim, "victim");
    const fs::path out = dir / "linked";
    fs::create_directory(out);
    fs::create_symlink(victim, out / "scene.y3d");
    fs::create_symlink(victim, out / "tex.png");
    fs::create_symlink(victim, out / (".scene.y3d.tmp-" + std::to_string(::getpid())));
    r = Y3d({"import", dir / "model.obj", out / "scene.y3d"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(Text(victim), "victim");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out / "scene.y3d")));
    EXPECT_TRUE(fs::is_symlink(out / "tex.png"));
    EXPECT_EQ(Listing(out), (std::set<std::string>{".scene.y3d.tmp-" + std::to_string(::getpid()), "scene.y3d",
                                                   "tex.png", "tex_2.png"}));

    // The source as the output, however it is named.
    fs::create_symlink(dir / "model.obj", dir / "alias.obj");
    const std::string source = Text(dir / "model.obj");
    for (const fs::path& same : {dir / "model.obj", dir / "linked" / ".." / "model.obj", dir / "alias.obj"}) {
        r = Y3d({"import", dir / "model.obj", same});
        EXPECT_EQ(r.Status, 1) << same;
        EXPECT_EQ(r.Err, "y3d: " + same.string() + ": is the file being read; give another file to write\n");
    }
    EXPECT_EQ(Text(dir / "model.obj"), source);
    WriteScene(dir / "scene.gltf", {});
    r = Y3d({"export", dir / "scene.gltf", dir / "scene.gltf"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("is the file being read"), std::string::npos) << r.Err;

    // Export into the scene's own folder: its wall.png stays, the Targa
    // converted takes another name, and wall.png, the same bytes, serves
    // as it is.
    demo::TImage image(2, 2, 3);
    image.Set(0, 0, 1, 0, 0);
    demo::WriteFileBytes(dir / "wall.tga", demo::EncodeTarga(image, false, false));
    const std::vector<std::uint8_t> png = demo::EncodePng(demo::TImage(4, 4, 3));
    demo::WriteFileBytes(dir / "wall.png", png);
    WriteScene(dir / "walls.y3d", {"wall.tga", "wall.png"});
    r = Y3d({"export", dir / "walls.y3d", dir / "walls.gltf"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(ReadWholeFile(dir / "wall.png"), png);
    const nlohmann::json doc = nlohmann::json::parse(Text(dir / "walls.gltf"));
    EXPECT_EQ(doc["images"][0]["uri"], "wall_2.png");
    EXPECT_EQ(doc["images"][1]["uri"], "wall.png");
    EXPECT_TRUE(fs::exists(dir / "wall_2.png"));
}

TEST(ConversionSafety, TexturesComeOnlyFromTheSourcesFolderAndBadOnesCostOnlyTheirMaterial)
{
    test::TScratchFolder root, out;
    const fs::path dir = root.Path() / "model";
    fs::create_directory(dir);
    Write(root.Path() / "secret.png", "private");
    fs::create_symlink(root.Path() / "secret.png", dir / "link.png");
    const std::string bmp = Bmp();
    Write(dir / "good.bmp", bmp);
    Write(dir / "cut.bmp", bmp.substr(0, 40));
    const std::string absolute = (root.Path() / "secret.png").string();
    WriteObj(dir, {{"Abs", absolute}, {"Up", "../secret.png"}, {"Link", "link.png"}, {"Cut", "cut.bmp"},
                   {"Good", "good.bmp"}});
    TRun r = Y3d({"import", dir / "model.obj", out / "scene.y3d"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    std::istringstream lines(r.Err);
    std::vector<std::string> warnings;
    for (std::string line; std::getline(lines, line);)
        warnings.push_back(line);
    ASSERT_EQ(warnings.size(), 4u) << r.Err;
    const std::string drawn = "; the material is drawn without it";
    EXPECT_EQ(warnings[0], "y3d: warning: material 'Abs': texture '" + absolute + "' lies outside the source's folder" + drawn);
    EXPECT_EQ(warnings[1], "y3d: warning: material 'Up': texture '../secret.png' lies outside the source's folder" + drawn);
    EXPECT_EQ(warnings[2], "y3d: warning: material 'Link': texture 'link.png' lies outside the source's folder" + drawn);
    EXPECT_EQ(warnings[3].rfind("y3d: warning: material 'Cut': texture 'cut.bmp': cannot decode the image (", 0), 0u)
        << warnings[3];
    EXPECT_EQ(Listing(out.Path()), (std::set<std::string>{"good.png", "scene.y3d"}));

    // Export alike.
    Write(dir / "cut.tga", std::string("\x00\x00\x02", 3));
    WriteScene(dir / "scene.y3d", {"../secret.png", "cut.tga", "link.png"});
    r = Y3d({"export", dir / "scene.y3d", out / "scene.glb"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const std::string exported = "; materials using it are exported without it\n";
    EXPECT_EQ(r.Err.substr(0, r.Err.find('\n') + 1),
              "y3d: warning: texture ../secret.png lies outside the scene's folder" + exported);
    EXPECT_NE(r.Err.find("y3d: warning: texture cut.tga: cannot decode the image ("), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("y3d: warning: texture link.png lies outside the scene's folder" + exported),
              std::string::npos) << r.Err;
    EXPECT_EQ(Text(out.Path() / "scene.glb").find("private"), std::string::npos);
}

// The sanitizers reserve terabytes of address space for their shadow as a
// program starts: under them the program runs without the limit, and the
// peak memory measured is what stands for it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif

// Runs the y3d program under a memory limit of 1 GiB; its status, stderr,
// time taken and peak memory.
struct TLimitedRun {
    int Status = -1;
    std::string Err;
    double Seconds = 0;
    long PeakKilobytes = 0;
};

TLimitedRun RunLimited(const std::vector<std::string>& args, const fs::path& errFile)
{
    std::vector<std::string> line = {Y3D_PROGRAM};
    line.insert(line.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : line)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit memory{1L << 30, 1L << 30};
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if ((!Sanitized && ::setrlimit(RLIMIT_AS, &memory) != 0) || err < 0 || ::dup2(err, 2) < 0)
            ::_exit(127);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    TLimitedRun run;
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child)
        return run;
    run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.Err = Text(errFile);
    run.PeakKilobytes = usage.ru_maxrss;
    return run;
}

TEST(ConversionSafety, HostileSourcesFailAtOnceInOneLineWithNoOutput)
{
    test::TScratchFolder sources, out;
    const fs::path dir = sources.Path();

    // Meshes sharing Ids forty levels deep, two to a level: the player
    // would attach them 2^41 times.
    {
        TFileStream file(dir / "levels.y3d", TFileMode::Create);
        TSceneWriter w(file);
        for (std::int32_t level = 1; level <= 40; ++level)
            for (int copy = 0; copy < 2; ++copy) {
                TMeshDesc mesh;
                mesh.Header = {level, level - 1, 0, "Level"};
                w.Mesh(mesh);
            }
    }
    // One small mesh whose face records draw its indices over and over:
    // a .glb of more than 4 GiB.
    {
        TFileStream file(dir / "faces.y3d", TFileMode::Create);
        TSceneWriter w(file);
        TMeshDesc mesh;
        mesh.Header = {1, 0, 0, "Again"};
        mesh.Vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
        mesh.Indices.assign(30000, 0);
        mesh.Faces.assign(40000, TMeshFaceDesc{4, -1, 0, 30000});
        w.Mesh(mesh);
    }
    // glTF: a mesh of 30000 vertices placed by 4000 nodes, more than a
    // scene file holds; and 1000 meshes under a node animated from 0 to
    // 9999 s, 100 million placements to sample.
    std::string bin;
    const auto floats = [&](std::initializer_list<float> values) {
        for (const float f : values)
            bin.append(reinterpret_cast<const char*>(&f), 4);
    };
    for (int v = 0; v < 30000; ++v)
        floats({float(v % 100), float(v / 100), 0});
    floats({0, 9999, 0, 0, 0, 1, 0, 0});
    Write(dir / "hostile.bin", bin);
    nlohmann::json nodes = nlohmann::json::array({{{"name", "Root"}, {"children", nlohmann::json::array()}}});
    for (int i = 1; i <= 1000; ++i) {
        nodes[0]["children"].push_back(i);
        nodes.push_back({{"mesh", 0}});
    }
    const nlohmann::json common = {
        {"asset", {{"version", "2.0"}}},
        {"scene", 0},
        {"meshes", {{{"primitives", {{{"attributes", {{"POSITION", 0}}}}}}}}},
        {"buffers", {{{"uri", "hostile.bin"}, {"byteLength", bin.size()}}}},
        {"bufferViews",
         {{{"buffer", 0}, {"byteLength", 360000}},
          {{"buffer", 0}, {"byteOffset", 360000}, {"byteLength", 8}},
          {{"buffer", 0}, {"byteOffset", 360008}, {"byteLength", 24}}}},
        {"accessors",
         {{{"bufferView", 0}, {"componentType", 5126}, {"count", 30000}, {"type", "VEC3"}, {"min", {0, 0, 0}},
           {"max", {99, 299, 0}}},
          {{"bufferView", 1}, {"componentType", 5126}, {"count", 2}, {"type", "SCALAR"}, {"min", {0}}, {"max", {9999}}},
          {{"bufferView", 2}, {"componentType", 5126}, {"count", 2}, {"type", "VEC3"}}}}};
    nlohmann::json animated = common;
    animated["nodes"] = nodes;
    animated["scenes"] = {{{"nodes", {0}}}};
    animated["animations"] = {{{"channels", {{{"sampler", 0}, {"target", {{"node", 0}, {"path", "translation"}}}}}},
                               {"samplers", {{{"input", 1}, {"output", 2}}}}}};
    Write(dir / "animated.gltf", animated.dump());
    nlohmann::json shared = common;
    shared["nodes"] = nlohmann::json::array();
    shared["scenes"] = {{{"nodes", nlohmann::json::array()}}};
    for (int i = 0; i < 4000; ++i) {
        shared["nodes"].push_back({{"mesh", 0}});
        shared["scenes"][0]["nodes"].push_back(i);
    }
    Write(dir / "shared.gltf", shared.dump());

    const struct {
        std::vector<std::string> Args;
        std::string Reason;
    } cases[] = {
        {{"export", dir / "levels.y3d", out / "levels.glb"}, "the scene attaches meshes more than 1048576 times"},
        {{"export", dir / "faces.y3d", out / "faces.glb"}, "bytes of glTF buffer, more than 4294967267"},
        {{"import", dir / "animated.gltf", out / "animated.y3d"}, "placements, more than 4194304; give a larger --step"},
        {{"import", dir / "shared.gltf", out / "shared.y3d"}, "bytes, more than a scene file holds (2147483647)"},
    };
    for (const auto& c : cases) {
        const TLimitedRun run = RunLimited(c.Args, dir / "stderr.txt");
        const std::string name = fs::path(c.Args[2]).stem().string();
        EXPECT_EQ(run.Status, 1) << name;
        EXPECT_EQ(run.Err.rfind("y3d: " + c.Args[1] + ": ", 0), 0u) << run.Err;
        EXPECT_NE(run.Err.find(c.Reason + "\n"), std::string::npos) << run.Err;
        EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
        EXPECT_TRUE(fs::is_empty(out.Path())) << name;
        RecordProperty(name + "_seconds", std::to_string(run.Seconds));
        RecordProperty(name + "_peak_kilobytes", std::to_string(run.PeakKilobytes));
    }
}

} // namespace
} // namespace vendrake
