// y3d import of a large glTF against Open Asset Import Library reading the
// same file with the same post-processing. The file is generated once into
// the temporary folder: one grid mesh of a million triangles with normals
// and texture coordinates, as .gltf with its .bin beside it. ImportScene's
// "vs_read" counter is its time over the library's latest read: what
// converting and writing the scene cost on top of reading the source,
// written where no file was.
#include "convert/scene_import.h"

#include <assimp/Importer.hpp>
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace vendrake;

namespace {

namespace fs = std::filesystem;

// Quads across and down: 2 * 1000 * 500 triangles.
constexpr std::uint32_t Across = 1000, Down = 500;

fs::path Folder() { return fs::temp_directory_path() / "vendrake_bench_import"; }

template <typename T>
void Append(std::vector<std::uint8_t>& bytes, const T& value)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    bytes.insert(bytes.end(), p, p + sizeof value);
}

const std::string& GeneratedSource()
{
    static const std::string path = [] {
        fs::create_directories(Folder());
        const std::uint32_t columns = Across + 1, rows = Down + 1, vertices = columns * rows;
        const std::uint32_t indices = Across * Down * 6;
        // Positions, then normals, then texture coordinates, then indices.
        std::vector<std::uint8_t> bin;
        bin.reserve(std::size_t(vertices) * 32 + std::size_t(indices) * 4);
        for (std::uint32_t r = 0; r < rows; ++r)
            for (std::uint32_t c = 0; c < columns; ++c) {
                const float x = float(c) * 0.01f, z = float(r) * 0.01f;
                Append(bin, x), Append(bin, 0.05f * std::sin(x * 7) * std::cos(z * 5)), Append(bin, z);
            }
        for (std::uint32_t v = 0; v < vertices; ++v)
            Append(bin, 0.0f), Append(bin, 1.0f), Append(bin, 0.0f);
        for (std::uint32_t r = 0; r < rows; ++r)
            for (std::uint32_t c = 0; c < columns; ++c)
                Append(bin, float(c) / Across), Append(bin, float(r) / Down);
        for (std::uint32_t r = 0; r < Down; ++r)
            for (std::uint32_t c = 0; c < Across; ++c) {
                const std::uint32_t a = r * columns + c, b = a + 1, d = a + columns, e = d + 1;
                Append(bin, a), Append(bin, d), Append(bin, b), Append(bin, b), Append(bin, d), Append(bin, e);
            }
        std::ofstream(Folder() / "grid.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(bin.data()), std::streamsize(bin.size()));

        const std::size_t positions = 0, normals = std::size_t(vertices) * 12, uvs = normals * 2,
                          faces = uvs + std::size_t(vertices) * 8;
        const std::string v = std::to_string(vertices);
        const std::string json =
            R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],)"
            R"("nodes":[{"name":"Grid","mesh":0}],)"
            R"("materials":[{"name":"Ground","pbrMetallicRoughness":{"baseColorFactor":[0.4,0.6,0.3,1]}}],)"
            R"("meshes":[{"name":"Grid","primitives":[{"attributes":{"POSITION":0,"NORMAL":1,"TEXCOORD_0":2},)"
            R"("indices":3,"material":0}]}],)"
            R"("buffers":[{"uri":"grid.bin","byteLength":)" + std::to_string(bin.size()) + "}]," +
            R"("bufferViews":[)" +
            R"({"buffer":0,"byteOffset":)" + std::to_string(positions) + R"(,"byteLength":)" +
            std::to_string(normals) + "}," + R"({"buffer":0,"byteOffset":)" + std::to_string(normals) +
            R"(,"byteLength":)" + std::to_string(normals) + "}," + R"({"buffer":0,"byteOffset":)" +
            std::to_string(uvs) + R"(,"byteLength":)" + std::to_string(faces - uvs) + "}," +
            R"({"buffer":0,"byteOffset":)" + std::to_string(faces) + R"(,"byteLength":)" +
            std::to_string(std::size_t(indices) * 4) + "}]," +
            R"("accessors":[)" +
            R"({"bufferView":0,"componentType":5126,"count":)" + v +
            R"(,"type":"VEC3","min":[0,-0.05,0],"max":[10,0.05,5]},)" +
            R"({"bufferView":1,"componentType":5126,"count":)" + v + R"(,"type":"VEC3"},)" +
            R"({"bufferView":2,"componentType":5126,"count":)" + v + R"(,"type":"VEC2"},)" +
            R"({"bufferView":3,"componentType":5125,"count":)" + std::to_string(indices) +
            R"(,"type":"SCALAR"}]})";
        const fs::path gltf = Folder() / "grid.gltf";
        std::ofstream(gltf) << json;
        return gltf.string();
    }();
    return path;
}

// Seconds per iteration of the library's last read, for ImportScene's ratio.
double LibraryReadSeconds = 0;

const aiScene* ReadSource(Assimp::Importer& importer, const std::string& source)
{
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    return importer.ReadFile(source, aiProcess_Triangulate | aiProcess_GenSmoothNormals | aiProcess_SortByPType |
                                         aiProcess_ValidateDataStructure);
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void ReadWithLibrary(benchmark::State& state)
{
    const std::string& source = GeneratedSource();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        Assimp::Importer importer;
        const aiScene* scene = ReadSource(importer, source);
        if (!scene || scene->mNumMeshes != 1 || scene->mMeshes[0]->mNumFaces != 2 * Across * Down)
            state.SkipWithError("the generated file did not read back");
        benchmark::DoNotOptimize(scene);
    }
    LibraryReadSeconds = SecondsSince(start) / double(state.iterations());
    state.SetItemsProcessed(state.iterations() * 2 * Across * Down);
}

void ImportScene(benchmark::State& state)
{
    const std::string& source = GeneratedSource();
    TImportOptions options;
    options.Source = source;
    options.Out = (Folder() / "out" / "grid.y3d").string();
    fs::create_directories(Folder() / "out");
    if (LibraryReadSeconds == 0) {
        // Run alone (or first when interleaved): a few reads of our own,
        // after one that warms the page cache and the heap.
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 6; ++i) {
            if (i == 1)
                start = std::chrono::steady_clock::now();
            Assimp::Importer importer;
            benchmark::DoNotOptimize(ReadSource(importer, source));
        }
        LibraryReadSeconds = SecondsSince(start) / 5;
    }
    // Each import writes a new file: the last one's is removed untimed.
    // Replacing it would add freeing its blocks, which on a file system
    // mounted with discard waits for the disk.
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(vendrake::ImportScene(options));
        seconds += SecondsSince(start);
        state.PauseTiming();
        fs::remove(options.Out);
        state.ResumeTiming();
    }
    seconds /= double(state.iterations());
    if (LibraryReadSeconds > 0)
        state.counters["vs_read"] = seconds / LibraryReadSeconds;
    state.SetItemsProcessed(state.iterations() * 2 * Across * Down);
}

} // namespace

BENCHMARK(ReadWithLibrary)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(ImportScene)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
