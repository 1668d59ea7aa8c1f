// Scene loading against reading the same file into memory. The file is
// generated once into the temporary folder (over 200 MB: a few thousand
// meshes with normals and texture coordinates, their materials, texture maps,
// transforms and animated transforms), so both runs read from the page cache
// and the ratio shows what parsing and building the nodes cost on top of
// the bytes.
#include "scenefile/loader.h"
#include "scenefile/scene_writer.h"
#include "scene/gl_null.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <vector>

using namespace vendrake;

namespace {

constexpr int MeshCount = 2400;
constexpr int VerticesPerMesh = 2800;

std::string ScenePath()
{
    return (std::filesystem::temp_directory_path() / "vendrake_bench_scene.y3d").string();
}

const std::string& GeneratedScene()
{
    static const std::string path = [] {
        const std::string p = ScenePath();
        TFileStream out(p, TFileMode::Create);
        TSceneWriter w(out);
        TCameraDesc camera;
        camera.Header = {1, 0, 0, "Camera"};
        w.Camera(camera);
        for (int t = 0; t < 16; ++t) {
            TTexMapDesc tex;
            tex.Header.Name = "inline" + std::to_string(t);
            tex.Inline = true;
            tex.Width = tex.Height = 64;
            tex.BytesPerPixel = t % 2 ? 4 : 3;
            tex.Pixels.assign(static_cast<std::size_t>(64 * 64 * tex.BytesPerPixel), static_cast<std::uint8_t>(t));
            w.TexMap(tex);
            TMaterialDesc material;
            material.Header = {1000 + t, 0, 0, "Material" + std::to_string(t)};
            w.Material(material, [&] { w.Map({1, t}); });
        }
        TMeshDesc mesh;
        mesh.Flags = 0x2 | 0x8 | 0x40; // position, normal, texture coordinates
        mesh.Vertices.resize(static_cast<std::size_t>(VerticesPerMesh) * 8);
        for (std::size_t i = 0; i < mesh.Vertices.size(); ++i)
            mesh.Vertices[i] = std::sin(static_cast<float>(i) * 0.01f);
        mesh.Indices.resize(static_cast<std::size_t>(VerticesPerMesh) / 3 * 3);
        for (std::size_t i = 0; i < mesh.Indices.size(); ++i)
            mesh.Indices[i] = static_cast<std::int32_t>(i);
        const auto n = static_cast<std::int32_t>(mesh.Indices.size());
        mesh.Faces = {{4, 0, 0, n / 2}, {4, 1, n / 2 / 3 * 3, n - n / 2 / 3 * 3}};
        for (int m = 0; m < MeshCount; ++m) {
            const std::int32_t id = 10 + m;
            mesh.Header = {id, 0, 0, "Mesh" + std::to_string(m)};
            w.Mesh(mesh);
            if (m % 2)
                w.Transform({id, {float(m), 0, 0}, {1, 0, 0, 0}});
            else {
                TAnimTransformDesc anim;
                anim.Id = 100000 + m;
                anim.OwnerId = id;
                anim.Step = 10;
                for (int k = 0; k < 50; ++k)
                    anim.Keys.push_back({float(k), 0, 0, 0, 0, 0, 1});
                w.AnimTransform(anim);
            }
        }
        return p;
    }();
    return path;
}

void ReadIntoMemory(benchmark::State& state)
{
    const std::string& path = GeneratedScene();
    const auto size = static_cast<std::size_t>(std::filesystem::file_size(path));
    // One buffer for all runs, touched once: the baseline is the copy out of
    // the page cache alone, without page faults.
    std::vector<std::uint8_t> bytes(size, 1);
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t r = ::read(fd, bytes.data() + done, size - done);
            if (r <= 0)
                break;
            done += static_cast<std::size_t>(r);
        }
        ::close(fd);
        benchmark::DoNotOptimize(bytes.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void LoadScene(benchmark::State& state)
{
    const std::string& path = GeneratedScene();
    const auto size = static_cast<std::size_t>(std::filesystem::file_size(path));
    TNullGL noGL;
    for (auto _ : state) {
        TgrLoader loader;
        loader.RegisterNodeClasses();
        loader.LoadFromFile(path);
        TgrTreePtr scene = loader.BuildScene();
        benchmark::DoNotOptimize(scene.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

} // namespace

BENCHMARK(ReadIntoMemory)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(LoadScene)->Unit(benchmark::kMillisecond)->MinTime(2.0);
