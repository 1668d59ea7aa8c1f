#include "convert/scene_export.h"

#include "anim/anim_prs.h"
#include "convert/output_files.h"
#include "convert/texture_images.h"
#include "platform/bitmap.h"
#include "render/light.h"
#include "render/material.h"
#include "render/image_readers.h"
#include "render/mesh.h"
#include "render/texture.h"
#include "scene/gl_null.h"
#include "scene/viewport.h"
#include "scenefile/loader.h"
#include "scenefile/scene_writer.h"
#include "stream/stream.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

namespace vendrake {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr double Pi = 3.14159265358979323846;
constexpr int GlFloat = 5126, GlUnsignedInt = 5125;
constexpr int ArrayBuffer = 34962, ElementArrayBuffer = 34963;
constexpr std::uint32_t GlbMagic = 0x46546C67, GlbJson = 0x4E4F534A, GlbBin = 0x004E4942;
// A .glb counts its length, and its chunks', in 32 bits; the buffer is made
// in memory, so a .gltf's is held to the same.
constexpr std::uint64_t MaxGlbBytes = UINT32_MAX;
constexpr std::uint64_t GlbHeaderBytes = 12 + 8 + 8;

json Floats(std::initializer_list<double> values)
{
    json a = json::array();
    for (double v : values)
        a.push_back(v);
    return a;
}

// glTF's rotation (x, y, z, w) of a stored one: stored rotations are the
// conjugate of what they mean.
json GltfRotation(double w, double x, double y, double z)
{
    const double n = std::sqrt(w * w + x * x + y * y + z * z);
    if (!(n > 0))
        return Floats({0, 0, 0, 1});
    return Floats({-x / n, -y / n, -z / n, w / n});
}

// How a face record's material is drawn: lit, as one of the program's
// additive glow planes, or as the lines of a wireframe.
enum class TLook { Lit, Glow, Lines };

// The meshes the program paints additively, without the depth test.
constexpr std::array<const char*, 7> GlowPlaneNames = {"Plane01", "Plane03", "Plane04", "Plane05",
                                                       "Plane06", "Plane07", "Plane08"};

bool IsGlowPlane(const std::string& name)
{
    return std::find(GlowPlaneNames.begin(), GlowPlaneNames.end(), name) != GlowPlaneNames.end();
}


// A mesh's vertices where its transform first places it.
std::vector<TVector3> PlacedVertices(const TgrPrimitive& mesh, const TgrLoader& loader)
{
    double t[3] = {0, 0, 0}, q[4] = {0, 0, 0, 1}; // glTF's rotation: x, y, z, w
    const auto rotation = [&q](double w, double x, double y, double z) {
        const json r = GltfRotation(w, x, y, z);
        for (std::size_t c = 0; c < 4; ++c)
            q[c] = r[c].get<double>();
    };
    bool placed = false;
    for (const TgrTreePtr& child : loader.AnimTransforms->Children()) {
        const auto& anim = static_cast<const TgrAnimPRS&>(*child);
        if (anim.OwnerId != mesh.Id || !anim.PositionTrack || anim.PositionTrack->Keys.Count() == 0)
            continue;
        const TAnimKey* key = anim.PositionTrack->Keys.Get(0);
        for (int c = 0; c < 3; ++c)
            t[c] = key->Values[c].Value;
        if (anim.RotationTrack && anim.RotationTrack->Keys.Count() > 0) {
            const TAnimKey* r = anim.RotationTrack->Keys.Get(0);
            rotation(r->Values[3].Value, r->Values[0].Value, r->Values[1].Value, r->Values[2].Value);
        }
        placed = true;
        break;
    }
    for (const TgrTreePtr& child : loader.Transforms->Children()) {
        const auto& prs = static_cast<const TgrPRS&>(*child);
        if (placed || prs.OwnerId != mesh.Id)
            continue;
        t[0] = prs.Position.x, t[1] = prs.Position.y, t[2] = prs.Position.z;
        rotation(prs.Rotation.w, prs.Rotation.x, prs.Rotation.y, prs.Rotation.z);
        placed = true;
    }
    std::vector<TVector3> out;
    const int stride = mesh.Stride();
    const std::span<const float> v = mesh.Vertices();
    if (stride <= 0 || !(mesh.Flags() & (TMeshFlag::Position3 | TMeshFlag::Position4)))
        return out;
    const std::size_t first = std::size_t(mesh.PositionOffset());
    for (std::size_t i = first; i + 2 < v.size(); i += std::size_t(stride)) {
        const double p[3] = {v[i], v[i + 1], v[i + 2]};
        // p + 2w (q x p) + 2 q x (q x p)
        const double c1[3] = {q[1] * p[2] - q[2] * p[1], q[2] * p[0] - q[0] * p[2], q[0] * p[1] - q[1] * p[0]};
        const double c2[3] = {q[1] * c1[2] - q[2] * c1[1], q[2] * c1[0] - q[0] * c1[2], q[0] * c1[1] - q[1] * c1[0]};
        out.push_back({float(p[0] + 2 * q[3] * c1[0] + 2 * c2[0] + t[0]), float(p[1] + 2 * q[3] * c1[1] + 2 * c2[1] + t[1]),
                       float(p[2] + 2 * q[3] * c1[2] + 2 * c2[2] + t[2])});
    }
    return out;
}

class TExporter {
public:
    explicit TExporter(const TExportOptions& options) : FOptions(options) {}
    std::vector<std::string> Run();

private:
    [[noreturn]] void Fail(const std::string& reason) const { throw EExportError(FOptions.Scene + ": " + reason); }
    void Warn(const std::string& message)
    {
        if (FWarned.insert(message).second && FOptions.Warning)
            FOptions.Warning(message);
    }

    void CountPlacements(std::int32_t id, std::vector<std::int32_t>& path, std::int64_t copies, std::int64_t& total);
    void CheckSizes();
    std::uint64_t BufferBytesOf(const TgrPrimitive& mesh) const;
    int AddView(const void* data, std::size_t bytes, int target);
    int AddAccessor(int view, int componentType, std::size_t count, const char* type, json min = {}, json max = {});
    void ExportTextures();
    int MaterialIndex(int number, bool vertexColours, TLook look);
    int GlowTexture(int textureNumber);
    double LightDistance();
    json LightOf(const TgrLight& light);
    json MeshOf(const TgrPrimitive& mesh);
    int PlaceNode(std::size_t meshIndex, std::vector<std::int32_t>& path);
    void Place(json& node, int nodeIndex, std::int32_t ownerId);
    int Sampler(const std::vector<float>& times, const std::vector<float>& values, const char* type);

    const TExportOptions& FOptions;
    bool FBinary = false;
    fs::path FOut;
    TOutputFiles FFiles;
    std::set<std::string> FWarned;
    TgrLoader FLoader;

    json FDoc;
    std::vector<std::uint8_t> FBin;
    std::vector<int> FTextures;                  // glTF texture by texture number, -1: none
    std::vector<bool> FTextureAlpha;             // whether the image has alpha
    std::vector<const TgrTexmap*> FTexMaps;      // by texture number
    std::map<int, std::vector<std::uint8_t>> FImageFiles; // the image file's bytes by texture number
    std::map<int, int> FGlowTextures;            // texture number -> glTF texture, -1: none
    std::map<std::tuple<int, bool, TLook>, int> FMaterials; // (material number, vertex colours, look) -> glTF material
    double FLightDistance = -1;                  // LightDistance, once found
    std::vector<const TgrPrimitive*> FMeshNodes; // in file order
    std::vector<int> FMeshes;                    // glTF mesh by FMeshNodes position, -1: none
    std::map<std::int32_t, std::vector<int>> FChannelsOf; // owner -> sampler (translation, rotation)
    std::set<std::string> FUsedExtensions;
    int FLights = 0;
    std::map<std::int32_t, int> FPlacements; // nodes made so far for a mesh, by Id
    // The meshes painted under a mesh, by its Id: their FMeshNodes
    // positions, in file order.
    std::map<std::int32_t, std::vector<std::size_t>> FChildren;
    // The same by Id, with how many meshes carry each.
    std::map<std::int32_t, std::vector<std::pair<std::int32_t, std::int64_t>>> FChildIds;
    json FWireframe = json::object();          // the mesh MeshOf made last: GltfWireframeKey's value
    std::vector<json> FWireframes;             // by FMeshNodes position
    std::map<int, json> FWireframeLooks;       // glTF material -> GltfWireframeLookKey's value for it
    std::set<int> FGlowMaterials;              // glTF materials blended by a glow texture
};

int TExporter::AddView(const void* data, std::size_t bytes, int target)
{
    while (FBin.size() % 4)
        FBin.push_back(0);
    const std::size_t offset = FBin.size();
    if (std::uint64_t(offset) + bytes > MaxGlbBytes - GlbHeaderBytes)
        Fail("the glTF buffer takes more than " + std::to_string(MaxGlbBytes - GlbHeaderBytes) + " bytes");
    FBin.resize(offset + bytes);
    if (bytes)
        std::memcpy(FBin.data() + offset, data, bytes);
    json view = {{"buffer", 0}, {"byteOffset", offset}, {"byteLength", bytes}};
    if (target)
        view["target"] = target;
    FDoc["bufferViews"].push_back(view);
    return int(FDoc["bufferViews"].size()) - 1;
}

int TExporter::AddAccessor(int view, int componentType, std::size_t count, const char* type, json min, json max)
{
    json accessor = {{"bufferView", view}, {"componentType", componentType}, {"count", count}, {"type", type}};
    if (!min.is_null())
        accessor["min"] = min;
    if (!max.is_null())
        accessor["max"] = max;
    FDoc["accessors"].push_back(accessor);
    return int(FDoc["accessors"].size()) - 1;
}

void TExporter::ExportTextures()
{
    const fs::path sceneFolder = fs::absolute(FOptions.Scene).parent_path();
    std::error_code error;
    fs::path sceneTree = fs::canonical(sceneFolder, error);
    if (error)
        sceneTree = sceneFolder.lexically_normal();
    for (const TgrTreePtr& node : FLoader.TexMaps->Children()) {
        const auto& map = static_cast<const TgrTexmap&>(*node);
        FTexMaps.push_back(&map);
        std::vector<std::uint8_t> bytes;
        std::string name = fs::path(map.Name).filename().string();
        bool alpha = false;
        // Image files only from the scene's own folder tree, links followed:
        // a name in the file may point anywhere on the disk.
        const fs::path file = fs::canonical(sceneFolder / map.Name, error);
        const bool found = !error && !map.Linear && fs::is_regular_file(file, error);
        const fs::path inTree = found ? file.lexically_relative(sceneTree) : fs::path();
        const bool outside = found && (inTree.empty() || *inTree.begin() == "..");
        const auto without = [&](const std::string& what) {
            Warn(what + "; materials using it are exported without it");
            FTextures.push_back(-1);
            FTextureAlpha.push_back(false);
        };
        if (outside) {
            without("texture " + map.Name + " lies outside the scene's folder");
            continue;
        }
        if (found) {
            try {
                bytes = ReadWholeFile(file.string());
                if (!IsPngOrJpeg(bytes)) {
                    bytes = ConvertToPng(bytes, "texture " + map.Name);
                    name = fs::path(name).stem().string() + ".png";
                }
            } catch (const std::runtime_error& e) {
                // One image that cannot be read costs its materials their
                // texture, not the export.
                without(e.what());
                continue;
            }
            alpha = map.Format == 0x1908; // GL_RGBA, when it was decoded
        } else if (!map.Pixels.empty() && map.Width > 0 && map.Height > 0 &&
                   (map.Format == 0x1907 || map.Format == 0x1908)) {
            // Inline pixels, which the map keeps bottom row first.
            const int channels = map.Format == 0x1908 ? 4 : 3;
            const std::size_t row = std::size_t(map.Width) * channels;
            if (map.Pixels.size() < row * std::size_t(map.Height))
                Fail("texture map " + map.Name + " holds fewer pixels than its size");
            std::vector<std::uint8_t> top(row * std::size_t(map.Height));
            for (int y = 0; y < map.Height; ++y)
                std::memcpy(&top[std::size_t(y) * row], &map.Pixels[std::size_t(map.Height - 1 - y) * row], row);
            bytes = EncodePng(top.data(), map.Width, map.Height, channels);
            name = fs::path(name).stem().string() + ".png";
            alpha = channels == 4;
        } else {
            without("texture " + map.Name + " not found next to the scene");
            continue;
        }
        // Transparency the file's own image carries is read from the image.
        if (!alpha && bytes.size() > 25 && bytes[0] == 0x89)
            alpha = bytes[25] == 4 || bytes[25] == 6; // PNG colour types with alpha

        if (found)
            FImageFiles[int(FTexMaps.size()) - 1] = bytes;
        json image = {{"name", map.Name}, {"mimeType", bytes[0] == 0x89 ? "image/png" : "image/jpeg"}};
        if (FBinary) {
            image["bufferView"] = AddView(bytes.data(), bytes.size(), 0);
        } else {
            // Never in the place of a file that is there (the scene's own
            // images, when written into its folder), nor of another output.
            image["uri"] = FFiles.AddNamed(FOut.parent_path().string(), name, std::move(bytes));
        }
        FDoc["images"].push_back(image);
        // Nearest texels for file images and smooth ones for inline images,
        // as the player draws them; both clamped.
        const int filter = map.Linear ? 9729 : 9728;
        FDoc["samplers"].push_back(
            {{"magFilter", filter}, {"minFilter", map.Linear ? 9987 : 9728}, {"wrapS", 33071}, {"wrapT", 33071}});
        const int index = int(FDoc["images"].size()) - 1;
        FDoc["textures"].push_back({{"source", index}, {"sampler", int(FDoc["samplers"].size()) - 1}});
        FTextures.push_back(int(FDoc["textures"].size()) - 1);
        FTextureAlpha.push_back(alpha);
    }
}

// An additive glow's texture for glTF, which blends only by alpha: each
// texel's brightest channel becomes its alpha and the colour is divided by
// it, so that blending adds the texel's colour and dims what lies behind by
// no more than that colour's own strength. Black stays clear.
int TExporter::GlowTexture(int textureNumber)
{
    if (const auto found = FGlowTextures.find(textureNumber); found != FGlowTextures.end())
        return found->second;
    int& made = FGlowTextures[textureNumber] = -1;
    if (textureNumber < 0 || std::size_t(textureNumber) >= FTexMaps.size() ||
        FTextures[std::size_t(textureNumber)] < 0)
        return -1;
    const TgrTexmap& map = *FTexMaps[std::size_t(textureNumber)];
    // Texel colours, rows top first: the file's image, else the inline
    // pixels, which the map keeps bottom row first.
    std::vector<std::uint8_t> rgba;
    std::size_t w = 0, h = 0;
    if (const auto file = FImageFiles.find(textureNumber); file != FImageFiles.end()) {
        try {
            TMemoryStream stream(file->second);
            const TBitmap image = ReadImageByContent(stream);
            const int bits = BitsPerPixel(image.PixelFormat());
            if (bits == 24 || bits == 32) {
                w = std::size_t(image.Width()), h = std::size_t(image.Height());
                const std::size_t step = bits / 8;
                for (std::size_t y = 0; y < h; ++y) {
                    const std::uint8_t* s = image.ScanLine(int(y));
                    for (std::size_t x = 0; x < w; ++x, s += step)
                        rgba.insert(rgba.end(), {s[2], s[1], s[0], step == 4 ? s[3] : std::uint8_t(255)});
                }
            }
        } catch (const std::runtime_error&) {
            rgba.clear();
        }
    } else if ((map.Format == 0x1907 || map.Format == 0x1908) && map.Width > 0 && map.Height > 0) {
        const std::size_t channels = map.Format == 0x1908 ? 4 : 3;
        w = std::size_t(map.Width), h = std::size_t(map.Height);
        if (map.Pixels.size() >= w * h * channels)
            for (std::size_t y = 0; y < h; ++y) {
                const std::uint8_t* s = &map.Pixels[(h - 1 - y) * w * channels];
                for (std::size_t x = 0; x < w; ++x, s += channels)
                    rgba.insert(rgba.end(), {s[0], s[1], s[2], channels == 4 ? s[3] : std::uint8_t(255)});
            }
    }
    if (rgba.empty() || rgba.size() != w * h * 4) {
        Warn("texture " + map.Name + " cannot be made a glow: its glow planes are drawn opaque");
        return -1;
    }
    std::vector<std::uint8_t> glow(w * h * 4);
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        const double a = rgba[i + 3] / 255.0;
        const double c[3] = {rgba[i] * a, rgba[i + 1] * a, rgba[i + 2] * a};
        const double top = std::max({c[0], c[1], c[2]});
        for (std::size_t k = 0; k < 3; ++k)
            glow[i + k] = top > 0 ? std::uint8_t(std::lround(255 * c[k] / top)) : 0;
        glow[i + 3] = std::uint8_t(std::lround(top));
    }
    std::vector<std::uint8_t> png = EncodePng(glow.data(), int(w), int(h), 4);
    const std::string name = fs::path(map.Name).stem().string() + "_glow.png";
    json image = {{"name", name}, {"mimeType", "image/png"}};
    if (FBinary)
        image["bufferView"] = AddView(png.data(), png.size(), 0);
    else
        image["uri"] = FFiles.AddNamed(FOut.parent_path().string(), name, std::move(png));
    FDoc["images"].push_back(image);
    const int sampler = FDoc["textures"][std::size_t(FTextures[std::size_t(textureNumber)])]["sampler"].get<int>();
    FDoc["textures"].push_back({{"source", int(FDoc["images"].size()) - 1}, {"sampler", sampler}});
    return made = int(FDoc["textures"].size()) - 1;
}

// The glTF material for a face record's material. With vertex colours the
// player takes the colours for ambient and diffuse; glTF multiplies them by
// the base colour, which is white then.
//
// A glow plane's material is emissive and alpha-blended with its texture as
// GlowTexture makes it: glTF has no additive blending, and this adds the glow
// wherever the texture is bright and leaves the scene behind it where it is
// dark. Lines are unlit in glTF viewers: a wireframe's lines shine with its
// emission and half its diffuse colour, as the lit side of a wire frame
// shows on average.
int TExporter::MaterialIndex(int number, bool vertexColours, TLook look)
{
    if (number < 0 || number >= FLoader.Materials->Count())
        return -1;
    const auto key = std::tuple(number, vertexColours, look);
    if (const auto found = FMaterials.find(key); found != FMaterials.end())
        return found->second;

    const auto& m = static_cast<const TgrMaterial&>(*FLoader.Materials->GetChild(number));
    int texture = -1, kind = 1, textureNumber = -1;
    for (const TgrTreePtr& child : m.Children())
        if (child->Is<TgrMap>()) {
            const auto& map = static_cast<const TgrMap&>(*child);
            kind = map.MapKind;
            textureNumber = map.TextureNumber;
            if (map.TextureNumber >= 0 && std::size_t(map.TextureNumber) < FTextures.size())
                texture = FTextures[std::size_t(map.TextureNumber)];
            else
                Warn("material " + m.Name + " names texture " + std::to_string(map.TextureNumber) +
                     ", which the scene does not have");
        }
    const TVector4 base = vertexColours ? TVector4{1, 1, 1, m.Diffuse.w} : m.Diffuse;
    const double gloss = std::sqrt(std::clamp(double(m.Shininess), 0.0, 128.0) / 128.0);
    const auto clamp01 = [](double v) { return std::clamp(v, 0.0, 1.0); };
    json material = {{"name", m.Name},
                     {"pbrMetallicRoughness",
                      {{"baseColorFactor", Floats({base.x, base.y, base.z, base.w})},
                       {"metallicFactor", 0.0},
                       {"roughnessFactor", 1 - gloss}}},
                     {"emissiveFactor", Floats({clamp01(m.Emission.x), clamp01(m.Emission.y), clamp01(m.Emission.z)})},
                     {"doubleSided", m.Face == 0x0408}};
    json specGloss = {{"diffuseFactor", Floats({base.x, base.y, base.z, base.w})},
                      {"specularFactor", Floats({clamp01(m.Specular.x), clamp01(m.Specular.y), clamp01(m.Specular.z)})},
                      {"glossinessFactor", gloss}};
    bool blend = base.w < 1;
    const int glow = look == TLook::Glow && kind == 1 ? GlowTexture(textureNumber) : -1;
    if (glow >= 0) {
        // Emission beyond white keeps its strength where viewers read it.
        const double strongest = std::max({double(m.Emission.x), double(m.Emission.y), double(m.Emission.z)});
        const double scale = strongest > 1 ? strongest : 1;
        material["emissiveFactor"] = Floats({clamp01(m.Emission.x / scale), clamp01(m.Emission.y / scale),
                                             clamp01(m.Emission.z / scale)});
        if (strongest > 1) {
            material["extensions"]["KHR_materials_emissive_strength"] = {{"emissiveStrength", strongest}};
            FUsedExtensions.insert("KHR_materials_emissive_strength");
        }
        material["pbrMetallicRoughness"]["baseColorTexture"] = {{"index", glow}};
        material["emissiveTexture"] = {{"index", glow}};
        specGloss["diffuseTexture"] = {{"index", glow}};
        FGlowMaterials.insert(int(FDoc["materials"].size()));
        material["doubleSided"] = true; // the program paints it without the depth test, from either side
        blend = true;
    } else if (texture >= 0) {
        material["pbrMetallicRoughness"]["baseColorTexture"] = {{"index", texture}};
        specGloss["diffuseTexture"] = {{"index", texture}};
        const std::size_t image = std::size_t(FDoc["textures"][std::size_t(texture)]["source"].get<int>());
        const bool alpha = image < FTextureAlpha.size() && FTextureAlpha[image];
        if (kind == 1) {
            blend |= alpha;
            // The player's texture modulates the whole lit colour, emission
            // included.
            if (m.Emission.x > 0 || m.Emission.y > 0 || m.Emission.z > 0)
                material["emissiveTexture"] = {{"index", texture}};
        } else {
            // Any other kind replaces the colour with the image, unlit.
            material["extensions"]["KHR_materials_unlit"] = json::object();
            material["pbrMetallicRoughness"]["baseColorFactor"] = Floats({1, 1, 1, 1});
            FUsedExtensions.insert("KHR_materials_unlit");
        }
    }
    if (look == TLook::Lines) {
        const TVector4& d = base;
        material["pbrMetallicRoughness"]["baseColorFactor"] =
            Floats({clamp01(m.Emission.x + d.x / 2), clamp01(m.Emission.y + d.y / 2), clamp01(m.Emission.z + d.z / 2), d.w});
        material["emissiveFactor"] = Floats({0, 0, 0});
        material.erase("emissiveTexture");
        material["extensions"]["KHR_materials_unlit"] = json::object();
        FUsedExtensions.insert("KHR_materials_unlit");
        FWireframeLooks[int(FDoc["materials"].size())] = {
            {"diffuse_r", d.x},         {"diffuse_g", d.y},         {"diffuse_b", d.z},
            {"diffuse_a", d.w},         {"emission_r", m.Emission.x}, {"emission_g", m.Emission.y},
            {"emission_b", m.Emission.z}, {"specular_r", m.Specular.x}, {"specular_g", m.Specular.y},
            {"specular_b", m.Specular.z}, {"shininess", m.Shininess}};
    } else {
        material["extensions"]["KHR_materials_pbrSpecularGlossiness"] = specGloss;
        FUsedExtensions.insert("KHR_materials_pbrSpecularGlossiness");
    }
    if (blend)
        material["alphaMode"] = "BLEND";
    if (m.PolygonMode == 0x1B01)
        Warn("material " + m.Name +
             " is drawn as lines, which glTF cannot say: viewers show its triangles' edges, one pixel wide and "
             "from every side; y3d import makes them a wireframe again");
    FDoc["materials"].push_back(material);
    return FMaterials[key] = int(FDoc["materials"].size()) - 1;
}

json TExporter::MeshOf(const TgrPrimitive& mesh)
{
    const std::uint32_t flags = mesh.Flags();
    const int stride = mesh.Stride();
    const std::size_t count = std::size_t(std::max(mesh.VertexCount(), 0));
    const std::span<const float> v = mesh.Vertices();
    const int positionSize = (flags & TMeshFlag::Position3) ? 3 : (flags & TMeshFlag::Position4) ? 4 : 2;
    std::vector<float> positions(count * 3), normals, colours, uvs;
    const int colourSize = (flags & TMeshFlag::ColorRGBA) ? 4 : (flags & TMeshFlag::ColorRGB) ? 3 : 0;
    const bool hasUv = flags & (TMeshFlag::TexCoord2(0) | TMeshFlag::TexCoord3(0));
    std::array<double, 3> lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
    for (std::size_t i = 0; i < count; ++i) {
        const float* r = v.data() + i * std::size_t(stride);
        for (int c = 0; c < 3; ++c) {
            const float f = c < positionSize ? r[mesh.PositionOffset() + c] : 0.0f;
            positions[i * 3 + std::size_t(c)] = f;
            lo[std::size_t(c)] = std::min(lo[std::size_t(c)], double(f));
            hi[std::size_t(c)] = std::max(hi[std::size_t(c)], double(f));
        }
        if (flags & TMeshFlag::Normal)
            normals.insert(normals.end(), r + mesh.NormalOffset(), r + mesh.NormalOffset() + 3);
        if (colourSize)
            for (int c = 0; c < colourSize; ++c)
                colours.push_back(std::clamp(r[mesh.ColorOffset() + c], 0.0f, 1.0f));
        if (hasUv) {
            const float* t = r + mesh.TexCoordOffsets()[0];
            uvs.insert(uvs.end(), {t[0], 1 - t[1]}); // glTF's v runs down the image
        }
    }
    json attributes;
    attributes["POSITION"] = AddAccessor(AddView(positions.data(), positions.size() * 4, ArrayBuffer), GlFloat, count,
                                         "VEC3", Floats({lo[0], lo[1], lo[2]}), Floats({hi[0], hi[1], hi[2]}));
    if (!normals.empty()) {
        for (std::size_t i = 0; i < normals.size(); i += 3) {
            const double l = std::sqrt(double(normals[i]) * normals[i] + double(normals[i + 1]) * normals[i + 1] +
                                       double(normals[i + 2]) * normals[i + 2]);
            for (int c = 0; c < 3; ++c)
                normals[i + std::size_t(c)] = l > 0 ? float(normals[i + std::size_t(c)] / l) : (c == 2 ? 1.0f : 0.0f);
        }
        attributes["NORMAL"] = AddAccessor(AddView(normals.data(), normals.size() * 4, ArrayBuffer), GlFloat, count, "VEC3");
    }
    if (colourSize)
        attributes["COLOR_0"] = AddAccessor(AddView(colours.data(), colours.size() * 4, ArrayBuffer), GlFloat, count,
                                            colourSize == 4 ? "VEC4" : "VEC3");
    if (hasUv)
        attributes["TEXCOORD_0"] = AddAccessor(AddView(uvs.data(), uvs.size() * 4, ArrayBuffer), GlFloat, count, "VEC2");
    for (int set = 1; set < 8; ++set)
        if (flags & (TMeshFlag::TexCoord2(set) | TMeshFlag::TexCoord3(set)))
            Warn("mesh " + mesh.Name + ": texture-coordinate sets after the first are not exported");

    const std::span<const std::int32_t> indices = mesh.Indices();
    const auto valid = [&](std::int32_t i) { return i >= 0 && std::size_t(i) < count; };
    json primitives = json::array();
    const auto addPrimitive = [&](int mode, std::vector<std::uint32_t> list, int material) {
        if (list.empty())
            return;
        json p = {{"attributes", attributes}, {"mode", mode}};
        p["indices"] = AddAccessor(AddView(list.data(), list.size() * 4, ElementArrayBuffer), GlUnsignedInt,
                                   list.size(), "SCALAR");
        if (material >= 0)
            p["material"] = material;
        primitives.push_back(p);
    };
    const std::span<const TgrMeshFace> faces = mesh.Faces();
    if (faces.empty()) {
        // No face records: triangles over the indices, or over the records.
        std::vector<std::uint32_t> list;
        if (!indices.empty()) {
            for (std::int32_t i : indices)
                if (valid(i))
                    list.push_back(std::uint32_t(i));
        } else {
            for (std::size_t i = 0; i < count; ++i)
                list.push_back(std::uint32_t(i));
        }
        list.resize(list.size() / 3 * 3);
        addPrimitive(4, std::move(list), -1);
    }
    for (const TgrMeshFace& face : faces) {
        if (face.FirstIndex < 0 || face.Count < 0 || std::size_t(face.FirstIndex) + std::size_t(face.Count) > indices.size()) {
            Warn("mesh " + mesh.Name + ": a face record reaches past its indices and is left out");
            continue;
        }
        std::vector<std::uint32_t> list;
        for (std::int32_t k = 0; k < face.Count; ++k) {
            const std::int32_t i = indices[std::size_t(face.FirstIndex + k)];
            list.push_back(valid(i) ? std::uint32_t(i) : 0);
        }
        int mode = face.Mode;
        if (mode == 7) { // quads
            std::vector<std::uint32_t> triangles;
            for (std::size_t q = 0; q + 3 < list.size(); q += 4)
                triangles.insert(triangles.end(), {list[q], list[q + 1], list[q + 2], list[q], list[q + 2], list[q + 3]});
            list = std::move(triangles);
            mode = 4;
        } else if (mode < 0 || mode > 6) {
            Warn("mesh " + mesh.Name + ": faces of GL mode " + std::to_string(mode) + " are left out");
            continue;
        }
        int materialNumber = face.MaterialIndex;
        const bool lines = mode == 4 && materialNumber >= 0 && materialNumber < FLoader.Materials->Count() &&
                           static_cast<const TgrMaterial&>(*FLoader.Materials->GetChild(materialNumber)).PolygonMode ==
                               0x1B01;
        const TLook look = lines ? TLook::Lines : IsGlowPlane(mesh.Name) ? TLook::Glow : TLook::Lit;
        const int material = MaterialIndex(materialNumber, colourSize > 0, look);
        if (lines && material >= 0) {
            // A wireframe material: each triangle as its three edges in its
            // own winding, which viewers draw as lines and y3d import turns
            // back into the triangle (see GltfWireframeKey).
            std::vector<std::uint32_t> segments;
            segments.reserve(list.size() / 3 * 6);
            for (std::size_t t = 0; t + 2 < list.size(); t += 3) {
                const std::uint32_t a = list[t], b = list[t + 1], c = list[t + 2];
                segments.insert(segments.end(), {a, b, b, c, c, a});
            }
            list = std::move(segments);
            mode = 1;
            const auto& m = static_cast<const TgrMaterial&>(*FLoader.Materials->GetChild(materialNumber));
            FWireframe[std::to_string(material)] = m.LineWidth;
        }
        addPrimitive(mode, std::move(list), material);
    }
    if (primitives.empty())
        return nullptr;
    return {{"name", mesh.Name}, {"primitives", primitives}};
}

int TExporter::Sampler(const std::vector<float>& times, const std::vector<float>& values, const char* type)
{
    json& animation = FDoc["animations"][0];
    const float last = times.empty() ? 0 : times.back();
    const int input = AddAccessor(AddView(times.data(), times.size() * 4, 0), GlFloat, times.size(), "SCALAR",
                                  Floats({times.empty() ? 0.0 : times.front()}), Floats({last}));
    const int output =
        AddAccessor(AddView(values.data(), values.size() * 4, 0), GlFloat, times.size(), type);
    animation["samplers"].push_back({{"input", input}, {"output", output}, {"interpolation", "LINEAR"}});
    return int(animation["samplers"].size()) - 1;
}

// Gives a node the placement the transform owned by ownerId gives: its
// translation and rotation, or animation channels.
void TExporter::Place(json& node, int nodeIndex, std::int32_t ownerId)
{
    for (const TgrTreePtr& child : FLoader.AnimTransforms->Children()) {
        const auto& anim = static_cast<const TgrAnimPRS&>(*child);
        if (anim.OwnerId != ownerId || !anim.PositionTrack)
            continue;
        auto known = FChannelsOf.find(ownerId);
        if (known == FChannelsOf.end()) {
            std::vector<int> samplers;
            const TAnim& p = *anim.PositionTrack;
            std::vector<float> times, values;
            for (int k = 0; k < p.Keys.Count(); ++k) {
                const TAnimKey* key = p.Keys.Get(k);
                times.push_back(key->Time / 10); // the scene clock runs at 10 units a second
                for (int c = 0; c < 3; ++c)
                    values.push_back(float(key->Values[c].Value));
            }
            samplers.push_back(Sampler(times, values, "VEC3"));
            if (anim.RotationTrack) {
                const TAnim& r = *anim.RotationTrack;
                times.clear();
                values.clear();
                for (int k = 0; k < r.Keys.Count(); ++k) {
                    const TAnimKey* key = r.Keys.Get(k);
                    times.push_back(key->Time / 10);
                    const json q = GltfRotation(key->Values[3].Value, key->Values[0].Value, key->Values[1].Value,
                                                key->Values[2].Value);
                    for (int c = 0; c < 4; ++c)
                        values.push_back(q[std::size_t(c)].get<float>());
                }
                samplers.push_back(Sampler(times, values, "VEC4"));
            }
            known = FChannelsOf.emplace(ownerId, samplers).first;
        }
        json& channels = FDoc["animations"][0]["channels"];
        channels.push_back({{"sampler", known->second[0]}, {"target", {{"node", nodeIndex}, {"path", "translation"}}}});
        if (known->second.size() > 1)
            channels.push_back({{"sampler", known->second[1]}, {"target", {{"node", nodeIndex}, {"path", "rotation"}}}});
        return;
    }
    for (const TgrTreePtr& child : FLoader.Transforms->Children()) {
        const auto& prs = static_cast<const TgrPRS&>(*child);
        if (prs.OwnerId != ownerId)
            continue;
        node["translation"] = Floats({prs.Position.x, prs.Position.y, prs.Position.z});
        node["rotation"] = GltfRotation(prs.Rotation.w, prs.Rotation.x, prs.Rotation.y, prs.Rotation.z);
        return;
    }
}

// The distance at which a glTF light, which falls off with the square of
// the distance, lights as brightly as an unattenuated light of the player:
// the one at which its irradiance is the mean over the lit meshes' vertices
// (where the meshes first stand) as seen from the light's own places, so
// that lit surfaces come out as bright on the whole. Meshes with only
// unlit or glowing materials do not count, nor does the light's carrier.
double TExporter::LightDistance()
{
    if (FLightDistance >= 0)
        return FLightDistance;
    std::vector<TVector3> lights;
    std::set<std::int32_t> carriers;
    for (const TgrPrimitive* mesh : FMeshNodes) {
        const TgrTreePtr& child = mesh->GetChild(0);
        if (!child || !child->Is<TgrLight>())
            continue;
        carriers.insert(mesh->Id);
        for (const TgrTreePtr& node : FLoader.AnimTransforms->Children()) {
            const auto& anim = static_cast<const TgrAnimPRS&>(*node);
            if (anim.OwnerId != mesh->Id || !anim.PositionTrack)
                continue;
            const int keys = anim.PositionTrack->Keys.Count();
            for (int k = 0; k < keys; k += std::max(keys / 16, 1)) {
                const TAnimKey* key = anim.PositionTrack->Keys.Get(k);
                lights.push_back({float(key->Values[0].Value), float(key->Values[1].Value), float(key->Values[2].Value)});
            }
        }
        if (!lights.empty())
            continue;
        lights.push_back({0, 0, 0});
        for (const TgrTreePtr& node : FLoader.Transforms->Children()) {
            const auto& prs = static_cast<const TgrPRS&>(*node);
            if (prs.OwnerId == mesh->Id)
                lights.back() = {prs.Position.x, prs.Position.y, prs.Position.z};
        }
    }
    double inverseSquares = 0;
    std::size_t count = 0;
    for (const TgrPrimitive* mesh : FMeshNodes) {
        if (carriers.count(mesh->Id) || IsGlowPlane(mesh->Name))
            continue;
        bool lit = false;
        for (const TgrMeshFace& face : mesh->Faces()) {
            if (face.MaterialIndex < 0 || face.MaterialIndex >= FLoader.Materials->Count())
                continue;
            const auto& m = static_cast<const TgrMaterial&>(*FLoader.Materials->GetChild(face.MaterialIndex));
            bool unlit = m.Diffuse.x <= 0 && m.Diffuse.y <= 0 && m.Diffuse.z <= 0;
            for (const TgrTreePtr& child : m.Children())
                if (child->Is<TgrMap>() && static_cast<const TgrMap&>(*child).MapKind != 1)
                    unlit = true;
            lit |= !unlit;
        }
        if (!lit)
            continue;
        const std::vector<TVector3> vertices = PlacedVertices(*mesh, FLoader);
        for (std::size_t i = 0; i < vertices.size(); i += std::max<std::size_t>(vertices.size() / 4096, 1))
            for (const TVector3& l : lights) {
                const double dx = vertices[i].x - l.x, dy = vertices[i].y - l.y, dz = vertices[i].z - l.z;
                // Nearer than a unit, a vertex is lit at a unit's distance.
                inverseSquares += 1 / std::max(dx * dx + dy * dy + dz * dz, 1.0);
                ++count;
            }
    }
    FLightDistance = count ? std::sqrt(double(count) / inverseSquares) : 1.0;
    return FLightDistance;
}

// A painted light in glTF's units. The player lights a surface with the
// light's colour times the cosine, where glTF lights it with the intensity
// (candela over the squared distance, or lux) times the cosine over pi:
// directional lights get pi times the colour's strength in lux, point and
// spot lights that many candela times the squared distance at which the two
// agree. For an attenuated light that is where its fall-off becomes that
// of the square of the distance, and its range ends where the player's
// light has fallen to 1/256; an unattenuated one agrees at LightDistance.
json TExporter::LightOf(const TgrLight& light)
{
    const double strength = std::max({double(light.Diffuse.x), double(light.Diffuse.y), double(light.Diffuse.z), 0.0});
    json l = {{"name", light.Name},
              {"color", strength > 0 ? Floats({light.Diffuse.x / strength, light.Diffuse.y / strength,
                                               light.Diffuse.z / strength})
                                     : Floats({1, 1, 1})}};
    if (light.Position.w == 0) {
        l["type"] = "directional";
        l["intensity"] = strength * Pi;
        return l;
    }
    if (light.IsSpot) {
        l["type"] = "spot";
        const double outer = std::clamp(double(light.SpotCutoff), 0.1, 90.0) * Pi / 180;
        l["spot"] = {{"innerConeAngle", 0.0}, {"outerConeAngle", outer}};
    } else {
        l["type"] = "point";
    }
    const double quadratic = light.Attenuated ? double(light.QuadraticAttenuation) : 0;
    if (quadratic > 0 && std::isfinite(quadratic)) {
        l["intensity"] = strength * Pi / quadratic;
        l["range"] = std::sqrt(255 / quadratic);
    } else {
        const double distance = LightDistance();
        l["intensity"] = strength * Pi * distance * distance;
    }
    return l;
}

// Counts the nodes PlaceNode makes under a mesh with this Id, `copies`
// times over. Meshes that share Ids can ask for more nodes than any file
// holds, each level multiplying what lies under it, so they are counted, and
// refused past the loader's own limit, before any is made. Meshes of one Id
// make the same nodes: each Id is visited once per path, however many
// meshes carry it, and every visit adds to the count.
void TExporter::CountPlacements(std::int32_t id, std::vector<std::int32_t>& path, std::int64_t copies,
                                std::int64_t& total)
{
    const auto under = FChildIds.find(id);
    if (under == FChildIds.end())
        return;
    path.push_back(id);
    if (path.size() <= std::size_t(TgrLoader::MaxMeshDepth)) {
        for (const auto& [child, count] : under->second) {
            if (std::find(path.begin(), path.end(), child) != path.end())
                continue;
            total += copies * count;
            if (total > TgrLoader::MaxAttachments)
                Fail("the scene attaches meshes more than " + std::to_string(TgrLoader::MaxAttachments) + " times");
            CountPlacements(child, path, copies * count, total);
        }
    }
    path.pop_back();
}

// The bytes a mesh's views take in the buffer, as MeshOf makes them.
std::uint64_t TExporter::BufferBytesOf(const TgrPrimitive& mesh) const
{
    const std::uint32_t flags = mesh.Flags();
    const std::uint64_t count = std::uint64_t(std::max(mesh.VertexCount(), 0));
    std::uint64_t perVertex = 12;
    if (flags & TMeshFlag::Normal)
        perVertex += 12;
    perVertex += (flags & TMeshFlag::ColorRGBA) ? 16 : (flags & TMeshFlag::ColorRGB) ? 12 : 0;
    if (flags & (TMeshFlag::TexCoord2(0) | TMeshFlag::TexCoord3(0)))
        perVertex += 8;
    std::uint64_t bytes = count * perVertex + 4 * 3;
    const std::span<const TgrMeshFace> faces = mesh.Faces();
    if (faces.empty())
        return bytes + 4 * (mesh.Indices().empty() ? count : mesh.Indices().size()) + 3;
    for (const TgrMeshFace& face : faces) {
        if (face.FirstIndex < 0 || face.Count < 0 || std::size_t(face.FirstIndex) + std::size_t(face.Count) > mesh.Indices().size())
            continue;
        const std::uint64_t n = std::uint64_t(face.Count);
        const bool lines = face.Mode == 4 && face.MaterialIndex >= 0 && face.MaterialIndex < FLoader.Materials->Count() &&
                           static_cast<const TgrMaterial&>(*FLoader.Materials->GetChild(face.MaterialIndex)).PolygonMode ==
                               0x1B01;
        if (face.Mode == 7)
            bytes += 4 * (n / 4 * 6) + 3;
        else if (lines)
            bytes += 4 * (n / 3 * 6) + 3;
        else if (face.Mode >= 0 && face.Mode <= 6)
            bytes += 4 * n + 3;
    }
    return bytes;
}

// What a scene file can ask of the export, found out before it is made: a
// few bytes of meshes that share their Ids, or of face records that draw
// the same indices again and again, would otherwise take all the memory
// there is.
void TExporter::CheckSizes()
{
    for (std::size_t i = 0; i < FMeshNodes.size(); ++i)
        if (FMeshNodes[i]->ParentId != 0)
            FChildren[FMeshNodes[i]->ParentId].push_back(i);
    for (const auto& [parent, children] : FChildren) {
        std::map<std::int32_t, std::int64_t> count;
        for (const std::size_t i : children)
            ++count[FMeshNodes[i]->Id];
        FChildIds[parent].assign(count.begin(), count.end());
    }
    std::int64_t total = 0;
    std::vector<std::int32_t> path;
    std::map<std::int32_t, std::int64_t> top;
    for (const TgrPrimitive* mesh : FMeshNodes)
        ++top[mesh->Id];
    for (const auto& [id, count] : top) {
        total += count;
        if (total > TgrLoader::MaxAttachments)
            Fail("the scene attaches meshes more than " + std::to_string(TgrLoader::MaxAttachments) + " times");
        CountPlacements(id, path, count, total);
    }

    std::uint64_t bytes = 0;
    for (const TgrPrimitive* mesh : FMeshNodes)
        bytes += BufferBytesOf(*mesh);
    if (bytes > MaxGlbBytes - GlbHeaderBytes)
        Fail("the meshes take " + std::to_string(bytes) + " bytes of glTF buffer, more than " +
             std::to_string(MaxGlbBytes - GlbHeaderBytes));
}

// A node for the mesh at its own place, with a child node for every mesh
// the player paints under it. `path` holds the meshes above, so a loop in
// the parents ends.
int TExporter::PlaceNode(std::size_t meshIndex, std::vector<std::int32_t>& path)
{
    const TgrPrimitive& mesh = *FMeshNodes[meshIndex];
    const int index = int(FDoc["nodes"].size());
    // Animation reaches nodes by name in most readers: a mesh's places under
    // other meshes are told apart as copies are in Blender.
    const int copy = FPlacements[mesh.Id]++;
    char suffix[16] = "";
    if (copy > 0)
        std::snprintf(suffix, sizeof suffix, ".%03d", copy);
    const std::string name = mesh.Name + suffix;
    FDoc["nodes"].push_back({{"name", name}});
    json node = {{"name", name}};
    if (FMeshes[meshIndex] >= 0) {
        node["mesh"] = FMeshes[meshIndex];
        if (!FWireframes[meshIndex].empty()) {
            node["extras"][GltfWireframeKey] = FWireframes[meshIndex]; // readers pass node extras on most widely
            for (const auto& [material, width] : FWireframes[meshIndex].items())
                if (const auto look = FWireframeLooks.find(std::stoi(material)); look != FWireframeLooks.end())
                    node["extras"][GltfWireframeLookKey][material] = look->second;
        }
        for (const json& primitive : FDoc["meshes"][std::size_t(FMeshes[meshIndex])]["primitives"])
            if (primitive.contains("material") && FGlowMaterials.count(primitive["material"].get<int>()))
                node["extras"][GltfGlowKey][std::to_string(primitive["material"].get<int>())] = 1;
    }
    if (const TgrTreePtr& child = mesh.GetChild(0); child && child->Is<TgrLight>()) {
        const auto& light = static_cast<const TgrLight&>(*child);
        json l = LightOf(light);
        node["extras"][GltfLightStrengthKey] =
            std::max({double(light.Diffuse.x), double(light.Diffuse.y), double(light.Diffuse.z), 0.0});
        FDoc["extensions"]["KHR_lights_punctual"]["lights"].push_back(l);
        node["extensions"]["KHR_lights_punctual"] = {{"light", FLights++}};
        FUsedExtensions.insert("KHR_lights_punctual");
    }
    Place(node, index, mesh.Id);
    path.push_back(mesh.Id);
    json children = json::array();
    if (const auto under = FChildren.find(mesh.Id);
        under != FChildren.end() && path.size() <= std::size_t(TgrLoader::MaxMeshDepth))
        for (const std::size_t i : under->second)
            if (std::find(path.begin(), path.end(), FMeshNodes[i]->Id) == path.end())
                children.push_back(PlaceNode(i, path));
    path.pop_back();
    if (!children.empty())
        node["children"] = children;
    FDoc["nodes"][std::size_t(index)] = node;
    return index;
}

std::vector<std::string> TExporter::Run()
{
    FOut = fs::absolute(FOptions.Out);
    std::string extension = FOut.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension != ".gltf" && extension != ".glb")
        throw EExportError(FOptions.Out + ": give a .gltf or a .glb file to write");
    FBinary = extension == ".glb";
    // The files named after OUT are taken first: neither may be the scene, a
    // folder in their way is found before the work, and no image takes
    // their names.
    const std::string binName = FOut.stem().string() + ".bin";
    try {
        FFiles.Protect(FOptions.Scene);
        if (!FBinary)
            FFiles.Add((FOut.parent_path() / binName).string(), std::vector<std::uint8_t>());
        FFiles.Add(FOut.string(), std::vector<std::uint8_t>());
    } catch (const std::exception& e) {
        throw EExportError(e.what()); // names the file written
    }

    const TNullGL noGL;
    FLoader.RegisterNodeClasses();
    try {
        TFileStream stream(FOptions.Scene, TFileMode::OpenRead);
        FLoader.LoadFromStream(stream);
        FLoader.SortNodes();
    } catch (const std::exception& e) {
        const std::string what = e.what();
        // Stream errors name the file already.
        throw EExportError(what.rfind(FOptions.Scene, 0) == 0 ? what : FOptions.Scene + ": " + what);
    }

    FDoc["asset"] = {{"version", "2.0"}, {"generator", "Vendrake y3d export"}};
    FDoc["nodes"] = json::array();
    FDoc["bufferViews"] = json::array();
    FDoc["accessors"] = json::array();
    FDoc["animations"] = json::array({{{"name", "Scene"}, {"samplers", json::array()}, {"channels", json::array()}}});
    for (const TgrTreePtr& node : FLoader.Others->Children())
        if (node->Is<TgrPrimitive>())
            FMeshNodes.push_back(static_cast<const TgrPrimitive*>(node.get()));
    CheckSizes();
    ExportTextures();

    const TgrViewPort* camera = nullptr;
    for (const TgrTreePtr& node : FLoader.Others->Children()) {
        if (node->Is<TgrViewPort>()) {
            if (camera)
                Warn("camera " + camera->Name + " is left out: the player looks through the last one");
            camera = static_cast<const TgrViewPort*>(node.get());
        }
    }
    for (const TgrTreePtr& light : FLoader.Lights->Children())
        Warn("light " + light->Name + " is left out: the player paints only lights its meshes carry");

    json sceneNodes = json::array();
    if (camera) {
        FDoc["cameras"].push_back({{"name", camera->Name},
                                   {"type", "perspective"},
                                   {"perspective",
                                    {{"yfov", camera->FieldOfView * Pi / 180},
                                     {"aspectRatio", 4.0 / 3.0},
                                     {"znear", camera->Near > 0 ? camera->Near : 0.1f},
                                     {"zfar", camera->Far > camera->Near ? camera->Far : camera->Near * 1000}}}});
        const int index = int(FDoc["nodes"].size());
        FDoc["nodes"].push_back({{"name", camera->Name}, {"camera", 0}});
        Place(FDoc["nodes"][std::size_t(index)], index, camera->Id);
        sceneNodes.push_back(index);
    }
    for (const TgrPrimitive* mesh : FMeshNodes) {
        FWireframe = json::object();
        json m = MeshOf(*mesh);
        FWireframes.push_back(std::move(FWireframe));
        if (m.is_null()) {
            FMeshes.push_back(-1);
        } else {
            FDoc["meshes"].push_back(m);
            FMeshes.push_back(int(FDoc["meshes"].size()) - 1);
        }
    }
    std::vector<std::int32_t> path;
    for (std::size_t i = 0; i < FMeshNodes.size(); ++i)
        sceneNodes.push_back(PlaceNode(i, path));
    FDoc["scenes"] = json::array({{{"name", "Scene"}, {"nodes", sceneNodes}}});
    FDoc["scene"] = 0;
    if (FDoc["animations"][0]["channels"].empty())
        FDoc.erase("animations");
    if (!FUsedExtensions.empty())
        FDoc["extensionsUsed"] = FUsedExtensions;

    while (FBin.size() % 4)
        FBin.push_back(0);
    json buffer = {{"byteLength", FBin.size()}};
    if (!FBinary) {
        buffer["uri"] = binName;
        FFiles.Add((FOut.parent_path() / binName).string(), std::move(FBin));
    }
    FDoc["buffers"] = json::array({buffer});

    std::string text = FDoc.dump(FBinary ? -1 : 1);
    std::vector<std::uint8_t> out;
    try {
        if (FBinary) {
            while (text.size() % 4)
                text += ' ';
            const std::uint64_t length = GlbHeaderBytes + text.size() + FBin.size();
            if (length > MaxGlbBytes)
                Fail("the .glb would take " + std::to_string(length) + " bytes, more than " +
                     std::to_string(MaxGlbBytes));
            const auto word = [&out](std::uint32_t v) {
                for (int i = 0; i < 4; ++i)
                    out.push_back(std::uint8_t(v >> (8 * i)));
            };
            word(GlbMagic);
            word(2);
            word(std::uint32_t(length));
            word(std::uint32_t(text.size()));
            word(GlbJson);
            out.insert(out.end(), text.begin(), text.end());
            word(std::uint32_t(FBin.size()));
            word(GlbBin);
            // The buffer goes to the file from where it is, not copied.
            FFiles.Add(FOut.string(), std::vector<std::span<const std::uint8_t>>{out, FBin});
        } else {
            FFiles.Add(FOut.string(), std::vector<std::uint8_t>(text.begin(), text.end()));
        }
        return FFiles.Commit();
    } catch (const std::exception& e) {
        throw EExportError(e.what()); // names the file written
    }
}

} // namespace

std::vector<std::string> ExportScene(const TExportOptions& options)
{
    TExporter exporter(options);
    try {
        return exporter.Run();
    } catch (const EExportError&) {
        throw;
    } catch (const std::exception& e) {
        throw EExportError(options.Scene + ": " + e.what());
    }
}

} // namespace vendrake
