#pragma once
// A scene file holding the seven planes, for the tests of the plane set-up,
// the main form, the program and the y3d tool. A camera (under an animated
// transform unless told otherwise) looks down -z at a box that sweeps from
// side to side and at the planes, small squares each under an animated
// transform of its own. The planes are written in name order, which is not
// the order the set-up takes them in, and each square sits at its own place
// in its vertex data, so their draw calls tell them apart.
#include "scenefile/scene_writer.h"

#include <cstdlib>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace vendrake::test {

// A fresh folder under the temporary directory, removed with its contents.
class TTempFolder {
public:
    TTempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vendrake-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        FPath = pattern;
    }
    ~TTempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

struct TPlaneScene {
    std::set<std::string> WithoutTransform; // planes written without their transform
    std::set<std::string> WithoutMesh;      // planes whose mesh is left out
    bool CameraTransform = true;            // false: the viewport hangs from the root itself
    bool Camera = true;                     // false: the meshes hang from the root
    bool SecondCamera = false;              // meshes then go under the second camera's viewport
    bool Box = true;
    int BoxSeconds = 59;                    // how long the box sweeps: the scene's length
    std::string BoxParent;                  // a plane whose mesh the box hangs from as well
    std::string Texture;                    // an image file a square in the middle shows
};

// In file order.
inline const std::vector<std::string>& PlaneFileOrder()
{
    static const std::vector<std::string> names = {"Plane01", "Plane03", "Plane04", "Plane05",
                                                   "Plane06", "Plane07", "Plane08"};
    return names;
}

inline std::int32_t PlaneId(const std::string& name)
{
    return 10 + std::stoi(name.substr(5));
}

inline void WritePlaneScene(const std::string& path, const TPlaneScene& scene = {})
{
    TFileStream out(path, TFileMode::Create);
    TSceneWriter w(out);
    auto still = [](std::int32_t id, std::int32_t owner) {
        TAnimTransformDesc t;
        t.Id = id;
        t.OwnerId = owner;
        t.Kind = 2;
        t.FloatsPerKey = 3;
        t.Step = 10;
        t.Keys = {{0, 0, -60}, {0, 0, -60}};
        return t;
    };
    auto camera = [&](std::int32_t id, const std::string& name) {
        TCameraDesc cam;
        cam.Header = {id, 0, 0, name};
        w.Camera(cam);
        if (scene.CameraTransform) {
            TAnimTransformDesc t = still(100 + id, id);
            t.Keys = {{0, 0, 0}, {0, 0, 0}};
            w.AnimTransform(t);
        }
    };
    if (scene.Camera)
        camera(1, "Camera01");
    if (scene.SecondCamera)
        camera(3, "Camera02");

    if (scene.Box) {
        TMeshDesc box;
        box.Header = {2, scene.BoxParent.empty() ? 0 : PlaneId(scene.BoxParent), 0, "Box"};
        box.Vertices = {-10, -10, 0, 10, -10, 0, 0, 10, 0};
        w.Mesh(box);
        // Back and forth across the view, once a second.
        TAnimTransformDesc sweep = still(102, 2);
        sweep.Keys.clear();
        for (int k = 0; k <= scene.BoxSeconds; ++k)
            sweep.Keys.push_back({k % 2 ? 12.0f : -12.0f, 0, -60});
        w.AnimTransform(sweep);
    }

    if (!scene.Texture.empty()) {
        TTexMapDesc map;
        map.Header = {40, 0, 0, scene.Texture};
        w.TexMap(map);
        TMaterialDesc material;
        material.Header = {41, 0, 0, "Tiles"};
        material.Emission = {1, 1, 1, 1};
        w.Material(material, [&] { w.Map({}); });
        TMeshDesc tile;
        tile.Header = {42, 0, 0, "Tile"};
        tile.Flags = 0x2 | 0x40; // position, one set of texture coordinates
        tile.Vertices = {-8, -8, 0, 0, 0, 8, -8, 0, 1, 0, 8, 8, 0, 1, 1, -8, 8, 0, 0, 1};
        tile.Indices = {0, 1, 2, 0, 2, 3};
        tile.Faces = {{4, 0, 0, 6}};
        w.Mesh(tile);
        w.AnimTransform(still(142, 42));
    }

    for (const std::string& name : PlaneFileOrder()) {
        const std::int32_t id = PlaneId(name);
        if (!scene.WithoutMesh.count(name)) {
            const float x = static_cast<float>(id - 15) * 4.0f, y = 14;
            TMeshDesc plane;
            plane.Header = {id, 0, 0, name};
            plane.Vertices = {x - 2, y - 2, 0, x + 2, y - 2, 0, x + 2, y + 2, 0,
                              x - 2, y - 2, 0, x + 2, y + 2, 0, x - 2, y + 2, 0};
            w.Mesh(plane);
        }
        if (!scene.WithoutTransform.count(name))
            w.AnimTransform(still(100 + id, id));
    }
}

} // namespace vendrake::test
