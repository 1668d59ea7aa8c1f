#include "convert/scene_import.h"

#include "convert/output_files.h"
#include "convert/scene_export.h"
#include "convert/texture_images.h"
#include "platform/bitmap.h"
#include "render/image_readers.h"
#include "scenefile/scene_writer.h"
#include "stream/stream.h"
#include "render/mesh.h"

#include <assimp/Importer.hpp>
#include <assimp/commonMetaData.h>
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <unordered_map>
#include <unordered_set>

namespace vendrake {

namespace {

namespace fs = std::filesystem;

using TMat = aiMatrix4x4t<double>;
using TVec = aiVector3t<double>;
using TQ = aiQuaterniont<double>;

constexpr double Pi = 3.14159265358979323846;
constexpr double UnitsPerSecond = 10; // the scene clock
constexpr std::int32_t CameraId = 1;
constexpr std::int32_t FirstMeshId = 10;

TMat ToDouble(const aiMatrix4x4& m)
{
    return TMat(m.a1, m.a2, m.a3, m.a4, m.b1, m.b2, m.b3, m.b4, m.c1, m.c2, m.c3, m.c4, m.d1, m.d2, m.d3, m.d4);
}

TVec ToDouble(const aiVector3D& v) { return {v.x, v.y, v.z}; }

TMat Translation(const TVec& t)
{
    TMat m;
    m.a4 = t.x;
    m.b4 = t.y;
    m.c4 = t.z;
    return m;
}

TMat Scaling(double s)
{
    TMat m;
    m.a1 = m.b2 = m.c3 = s;
    return m;
}

TVec Transform3(const TMat& m, const TVec& v)
{
    return {m.a1 * v.x + m.a2 * v.y + m.a3 * v.z, m.b1 * v.x + m.b2 * v.y + m.b3 * v.z,
            m.c1 * v.x + m.c2 * v.y + m.c3 * v.z};
}

TVec Point(const TMat& m, const TVec& v) { return Transform3(m, v) + TVec(m.a4, m.b4, m.c4); }

double Length(const TVec& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

TVec Normalised(const TVec& v, const TVec& otherwise)
{
    const double l = Length(v);
    return l > 1e-12 ? v / l : otherwise;
}

TVec Cross(const TVec& a, const TVec& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// The rotation that turns -z towards `ahead` with +y as close to `up` as it
// goes: how cameras and lights are oriented in the scene file and in glTF.
TMat LookRotation(const TVec& ahead, const TVec& up)
{
    const TVec z = Normalised(TVec() - ahead, {0, 0, 1});
    TVec x = Cross(up, z);
    if (Length(x) < 1e-9)
        x = Cross(std::abs(z.y) < 0.9 ? TVec(0, 1, 0) : TVec(1, 0, 0), z);
    x = Normalised(x, {1, 0, 0});
    const TVec y = Cross(z, x);
    TMat m;
    m.a1 = x.x, m.a2 = y.x, m.a3 = z.x;
    m.b1 = x.y, m.b2 = y.y, m.b3 = z.y;
    m.c1 = x.z, m.c2 = y.z, m.c3 = z.z;
    return m;
}

// A placement: position and unit rotation, scale left out.
struct TPose {
    TVec Position;
    TQ Rotation;
};

TPose PoseOf(const TMat& world)
{
    TVec scale, position;
    TQ rotation;
    world.Decompose(scale, rotation, position);
    rotation.Normalize();
    return {position, rotation};
}

TMat RotationMatrix(const TQ& q)
{
    const aiMatrix3x3t<double> r = q.GetMatrix();
    TMat m;
    m.a1 = r.a1, m.a2 = r.a2, m.a3 = r.a3;
    m.b1 = r.b1, m.b2 = r.b2, m.b3 = r.b3;
    m.c1 = r.c1, m.c2 = r.c2, m.c3 = r.c3;
    return m;
}

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

std::string NodeName(const aiString& name) { return std::string(name.C_Str(), name.length); }

// -- Animation ---------------------------------------------------------------

template <typename TKey>
std::size_t KeyAfter(const TKey* keys, unsigned count, double time)
{
    const TKey* found =
        std::upper_bound(keys, keys + count, time, [](double t, const TKey& key) { return t < key.mTime; });
    return static_cast<std::size_t>(found - keys);
}

TQ ToDouble(const aiQuaternion& q) { return TQ(q.w, q.x, q.y, q.z); }

// The value of a key list at time: the first or last key's outside them,
// else blend(earlier, later, fraction between them).
template <typename TKey, typename TBlend>
auto Sample(const TKey* keys, unsigned count, double time, TBlend blend)
{
    if (time <= keys[0].mTime)
        return ToDouble(keys[0].mValue);
    const std::size_t i = KeyAfter(keys, count, time);
    if (i >= count)
        return ToDouble(keys[count - 1].mValue);
    const TKey& a = keys[i - 1];
    const TKey& b = keys[i];
    const double span = b.mTime - a.mTime;
    const double f = span > 0 ? (time - a.mTime) / span : 1;
    return blend(ToDouble(a.mValue), ToDouble(b.mValue), f);
}

TVec Sample(const aiVectorKey* keys, unsigned count, double time)
{
    return Sample(keys, count, time, [](const TVec& a, const TVec& b, double f) { return a + (b - a) * f; });
}

TQ Sample(const aiQuatKey* keys, unsigned count, double time)
{
    return Sample(keys, count, time, [](const TQ& a, const TQ& b, double f) {
        TQ out;
        TQ::Interpolate(out, a, b, f);
        return out.Normalize();
    });
}

struct TChannel {
    const aiNodeAnim* Anim = nullptr;
    double TicksPerSecond = 25;
};

double TicksPerSecond(const aiAnimation& animation)
{
    return animation.mTicksPerSecond > 0 ? animation.mTicksPerSecond : 25.0;
}

// The node's transform relative to its parent at `seconds` on the source's
// clock.
TMat LocalAt(const aiNode& node, const TChannel* channel, double seconds)
{
    if (!channel)
        return ToDouble(node.mTransformation);
    TVec scale, position;
    TQ rotation;
    ToDouble(node.mTransformation).Decompose(scale, rotation, position);
    const aiNodeAnim& a = *channel->Anim;
    const double ticks = seconds * channel->TicksPerSecond;
    if (a.mNumPositionKeys > 0)
        position = Sample(a.mPositionKeys, a.mNumPositionKeys, ticks);
    if (a.mNumRotationKeys > 0)
        rotation = Sample(a.mRotationKeys, a.mNumRotationKeys, ticks);
    if (a.mNumScalingKeys > 0)
        scale = Sample(a.mScalingKeys, a.mNumScalingKeys, ticks);
    TMat s;
    s.a1 = scale.x, s.b2 = scale.y, s.c3 = scale.z;
    return Translation(position) * RotationMatrix(rotation) * s;
}

// -- The conversion ------------------------------------------------------------

// Where the scene's meshes are written: large writes are kept as views of
// the writer's memory, which must stay as it is until the pieces have gone
// to the file, and the rest is copied. A chunk's size is written over once
// its payload is out: only copied bytes can be.
class TPieceStream final : public TStream {
public:
    const std::string& Name() const override
    {
        static const std::string name = "memory";
        return name;
    }
    std::int64_t Size() override { return FSize; }
    void Seek(std::int64_t position) override
    {
        if (position < 0 || position > FSize)
            throw EStreamError("Stream seek error in memory: offset " + std::to_string(position) + " outside 0 to " +
                               std::to_string(FSize));
        ClearWindow(position);
    }
    std::size_t Write(const void* buffer, std::size_t count) override
    {
        const std::int64_t at = Position();
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        if (at == FSize) {
            if (count >= ViewFrom) {
                FPieces.push_back({at, bytes, 0, count});
            } else {
                if (FPieces.empty() || FPieces.back().View || FPieces.back().Own + FPieces.back().Size != FOwn.size())
                    FPieces.push_back({at, nullptr, FOwn.size(), 0});
                FOwn.insert(FOwn.end(), bytes, bytes + count);
                FPieces.back().Size += count;
            }
            FSize += std::int64_t(count);
        } else {
            const auto piece = std::upper_bound(FPieces.begin(), FPieces.end(), at,
                                                [](std::int64_t p, const TPiece& q) { return p < q.At; }) -
                               1;
            if (piece->View || at + std::int64_t(count) > piece->At + std::int64_t(piece->Size))
                return 0;
            std::memcpy(FOwn.data() + piece->Own + std::size_t(at - piece->At), bytes, count);
        }
        ClearWindow(at + std::int64_t(count));
        return count;
    }

    std::vector<std::span<const std::uint8_t>> Pieces() const
    {
        std::vector<std::span<const std::uint8_t>> pieces;
        for (const TPiece& p : FPieces)
            pieces.emplace_back(p.View ? p.View : FOwn.data() + p.Own, p.Size);
        return pieces;
    }

protected:
    std::size_t ReadSlow(void*, std::size_t) override { return 0; }

private:
    static constexpr std::size_t ViewFrom = 4096;
    struct TPiece {
        std::int64_t At;            // in the stream
        const std::uint8_t* View;   // the writer's memory, or null: FOwn from Own
        std::size_t Own;
        std::size_t Size;
    };
    std::vector<TPiece> FPieces;
    std::vector<std::uint8_t> FOwn;
    std::int64_t FSize = 0;
};

struct TTexture {
    std::string Name; // as the texture map records it
    std::int32_t Number = 0;
};

struct TMaterialOut {
    TMaterialDesc Desc;
    TVector4 BaseColor{1, 1, 1, 1};
    std::int32_t Texture = -1;
    std::int32_t MapKind = 1;
};

class TImporter {
public:
    TImporter(const TImportOptions& options) : FOptions(options) {}
    std::vector<std::string> Run();

private:
    [[noreturn]] void Fail(const std::string& reason) const { throw EImportError(FOptions.Source + ": " + reason); }
    void Warn(const std::string& message)
    {
        if (FWarned.insert(message).second && FOptions.Warning)
            FOptions.Warning(message);
    }

    void Read();
    bool IsGltf() const { return FFormat == ".gltf" || FFormat == ".glb"; }
    bool FromBlender() const;
    double VerticalAngle(const aiCamera& camera, const std::string& name);
    void CollectChannels();
    void FindMoving(const aiNode& node, bool moving);
    void CheckSampling() const;
    std::vector<TMat> WorldsOf(const aiNode& node) const;
    std::vector<TPose> PosesOf(const std::vector<TMat>& worlds, const TMat& local) const;
    bool Moves(const std::vector<TPose>& poses) const;
    void WriteTransform(TSceneWriter& w, std::int32_t ownerId, const std::vector<TPose>& poses);

    std::int32_t TextureFor(const aiMaterial& material, const std::string& materialName, bool glow);
    void ReadGlows();
    void ConvertMaterials();
    void CheckMeshSizes();
    std::uint32_t MeshFlagsOf(const aiNode& node) const;
    void ConvertMeshes(TSceneWriter& w);
    TMeshDesc MeshOf(const aiNode& node, const TMat& bake);
    void ConvertCamera(TSceneWriter& w);
    void ConvertLight(TSceneWriter& w);
    void WarnAboutMeshes();
    void ReadWireframes();
    std::int32_t FaceModeOf(const aiNode& node, const aiMesh& mesh);

    const TImportOptions& FOptions;
    Assimp::Importer FImporter;
    const aiScene* FScene = nullptr;
    std::string FFormat; // the source's extension, lower case
    fs::path FSourceFolder;
    fs::path FSourceTree; // the source's folder with links resolved: where its textures may be
    fs::path FOutFolder;
    TOutputFiles FFiles;
    std::set<std::string> FWarned;

    double FUnitScale = 1; // to metres where the source says its unit
    std::unordered_map<std::string, TChannel> FChannels; // by node name
    double FStart = 0;                                     // seconds of the first key
    std::size_t FSamples = 1;
    // Nodes whose placement changes with time: those an animation moves and
    // everything under them. The others are placed once.
    std::unordered_set<const aiNode*> FMoving;
    std::vector<const aiNode*> FMeshNodes;
    // By node: the materials whose line meshes hold wireframe triangles, with
    // their line widths.
    std::unordered_map<const aiNode*, std::map<unsigned, float>> FWireframes;
    // By material: how the player painted a wireframe that y3d export made
    // lines of (GltfWireframeLookKey), given back when it is one again.
    std::map<unsigned, TMaterialDesc> FWireframeLooks;
    std::set<unsigned> FGlowMaterials; // materials with a glow texture of y3d export's (GltfGlowKey)

    std::vector<TMaterialOut> FMaterials; // by the source's material index
    std::vector<std::int32_t> FMaterialNumber; // position among written materials, -1: unused
    std::vector<TTexMapDesc> FTexMaps;
    std::map<std::string, std::int32_t> FTextureBySource;

    std::vector<TMeshDesc> FMeshDescs; // as written, kept for the file's pieces
    std::vector<bool> FVertexAlpha;    // by mesh: whether a vertex colour is not opaque
    std::int32_t FNextId = FirstMeshId;
    std::int32_t FNextTransformId = 1000000;
    TVec FBoxMin{1e300, 1e300, 1e300}, FBoxMax{-1e300, -1e300, -1e300};
};

void TImporter::Read()
{
    const fs::path source(FOptions.Source);
    std::error_code error;
    if (!fs::exists(source, error))
        Fail("no such file");
    if (fs::is_directory(source, error))
        Fail("is a folder, not a file");
    {
        std::ifstream probe(source, std::ios::binary);
        if (!probe)
            Fail(std::string("cannot read: ") + std::strerror(errno));
    }
    std::string extension = source.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // The library's reader of Blender's own files knows only the layouts of
    // old versions, and fails on today's with a message about their insides.
    if (extension == ".blend")
        Fail("a Blender file: export it from Blender first (File > Export > glTF 2.0, .glb) and import that");
    if (extension.empty() || !FImporter.IsExtensionSupported(extension))
        Fail("unsupported format" + (extension.empty() ? std::string() : " (" + extension + ")"));
    FFormat = extension;
    FSourceFolder = fs::absolute(source).parent_path();
    FSourceTree = fs::canonical(FSourceFolder, error);
    if (error)
        FSourceTree = FSourceFolder.lexically_normal();

    // Pivot helper nodes would stand between the nodes the user named and
    // their animation.
    FImporter.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    FScene = FImporter.ReadFile(FOptions.Source, aiProcess_Triangulate | aiProcess_GenSmoothNormals |
                                                     aiProcess_SortByPType | aiProcess_ValidateDataStructure);
    if (!FScene) {
        std::string reason = FImporter.GetErrorString();
        if (reason.empty())
            reason = "the file could not be read";
        Fail(reason);
    }
    if (!FScene->mRootNode || FScene->mNumMeshes == 0)
        Fail("holds no mesh");

    // FBX keeps its unit in the scene's settings, in centimetres.
    if (FFormat == ".fbx" && FScene->mMetaData) {
        float single = 0;
        double unit = 0;
        if (FScene->mMetaData->Get("UnitScaleFactor", single))
            unit = single;
        else
            FScene->mMetaData->Get("UnitScaleFactor", unit);
        if (unit > 0 && std::isfinite(unit))
            FUnitScale = unit / 100.0;
    }
}

// How far a node's placement in the file is from the nearest key of an
// animation of it: 0 when the animation passes through it.
double Distance(const aiNode& node, const TChannel& channel)
{
    const TPose rest = PoseOf(ToDouble(node.mTransformation));
    const aiNodeAnim& a = *channel.Anim;
    double nearest = std::numeric_limits<double>::infinity();
    const auto at = [&](double ticks) {
        const TPose pose = PoseOf(LocalAt(node, &channel, ticks / channel.TicksPerSecond));
        const TQ& p = pose.Rotation;
        const TQ& q = rest.Rotation;
        const double turn = 1 - std::abs(p.w * q.w + p.x * q.x + p.y * q.y + p.z * q.z);
        nearest = std::min(nearest, Length(pose.Position - rest.Position) / (1 + Length(rest.Position)) + turn);
    };
    for (unsigned k = 0; k < a.mNumPositionKeys && nearest > 0; ++k)
        at(a.mPositionKeys[k].mTime);
    for (unsigned k = 0; k < a.mNumRotationKeys && nearest > 0; ++k)
        at(a.mRotationKeys[k].mTime);
    return nearest;
}

bool TImporter::FromBlender() const
{
    aiString generator;
    return FScene->mMetaData && FScene->mMetaData->Get(AI_METADATA_SOURCE_GENERATOR, generator) &&
           std::string(generator.C_Str()).rfind("Blender", 0) == 0;
}

void TImporter::CollectChannels()
{
    // Every animation of each node, in the file's order.
    std::unordered_map<std::string, std::vector<std::pair<TChannel, const aiAnimation*>>> candidates;
    std::vector<std::string> order;
    for (unsigned a = 0; a < FScene->mNumAnimations; ++a) {
        const aiAnimation& animation = *FScene->mAnimations[a];
        for (unsigned c = 0; c < animation.mNumChannels; ++c) {
            const std::string name = NodeName(animation.mChannels[c]->mNodeName);
            auto& list = candidates[name];
            if (list.empty())
                order.push_back(name);
            list.push_back({TChannel{animation.mChannels[c], TicksPerSecond(animation)}, &animation});
        }
        if (animation.mNumMeshChannels || animation.mNumMorphMeshChannels)
            Warn("animation " + Quoted(NodeName(animation.mName)) +
                 " changes mesh shapes: the scene file moves whole meshes only");
    }

    double first = std::numeric_limits<double>::infinity(), last = 0;
    for (const std::string& name : order) {
        const auto& list = candidates[name];
        std::size_t chosen = 0;
        bool own = false;
        const aiNode* node = FScene->mRootNode->FindNode(name.c_str());
        if (list.size() > 1 && node) {
            // Blender's FBX writes every action that fits an object as an
            // animation of it, its own among them; its own is the one that
            // passes through where the object stands in the file.
            double best = std::numeric_limits<double>::infinity();
            for (std::size_t i = 0; i < list.size(); ++i) {
                const double d = Distance(*node, list[i].first);
                if (d < best - 1e-9)
                    best = d, chosen = i;
            }
            own = best <= 1e-5;
            if (!own)
                chosen = 0;
        }
        if (list.size() > 1 && !own) {
            for (std::size_t i = 1; i < list.size(); ++i)
                Warn("animation " + Quoted(NodeName(list[i].second->mName)) + " moves " + Quoted(name) +
                     " again: only the first animation of a node is kept");
        }
        const TChannel& channel = list[chosen].first;
        FChannels.emplace(name, channel);
        const aiNodeAnim* keys = channel.Anim;
        const double tps = channel.TicksPerSecond;
        // A lone key marks no time: readers make one up for what a
        // channel leaves out.
        const auto span = [&](double from, double to) {
            if (to <= from)
                return;
            first = std::min(first, from / tps);
            last = std::max(last, to / tps);
        };
        if (keys->mNumPositionKeys)
            span(keys->mPositionKeys[0].mTime, keys->mPositionKeys[keys->mNumPositionKeys - 1].mTime);
        if (keys->mNumRotationKeys)
            span(keys->mRotationKeys[0].mTime, keys->mRotationKeys[keys->mNumRotationKeys - 1].mTime);
        if (keys->mNumScalingKeys)
            span(keys->mScalingKeys[0].mTime, keys->mScalingKeys[keys->mNumScalingKeys - 1].mTime);
    }
    if (FChannels.empty() || !std::isfinite(first))
        return;
    // The scene starts with the animation: tools that count frames from 1
    // put their first key a frame after 0.
    FStart = std::max(0.0, first);
    const double units = (last - FStart) * UnitsPerSecond;
    const double keys = std::ceil(units / FOptions.Step - 1e-9) + 1;
    if (keys > double(MaxImportKeys))
        Fail("an animation of " + std::to_string(last - FStart) + " s sampled every " +
             std::to_string(FOptions.Step) + " tenths of a second needs " + std::to_string(std::int64_t(keys)) +
             " keys, more than " + std::to_string(MaxImportKeys) + "; give a larger --step");
    FSamples = static_cast<std::size_t>(keys);
}

void TImporter::FindMoving(const aiNode& node, bool moving)
{
    moving = moving || FChannels.count(NodeName(node.mName));
    if (moving)
        FMoving.insert(&node);
    for (unsigned i = 0; i < node.mNumChildren; ++i)
        FindMoving(*node.mChildren[i], moving);
}

// The nodes above a node, the root first, and the node itself.
std::vector<const aiNode*> PathTo(const aiNode& node)
{
    std::vector<const aiNode*> path;
    for (const aiNode* n = &node; n; n = n->mParent)
        path.push_back(n);
    std::reverse(path.begin(), path.end());
    return path;
}

// Sampling a moving node takes a placement per sample for it and for each
// moving node above it; what that comes to over the scene is known before
// any of it is done, and bounded, as a small file can ask for much.
void TImporter::CheckSampling() const
{
    if (FSamples <= 1)
        return;
    std::vector<const aiNode*> placed = FMeshNodes;
    for (unsigned i = 0; i < FScene->mNumCameras; ++i)
        placed.push_back(FScene->mRootNode->FindNode(FScene->mCameras[i]->mName));
    for (unsigned i = 0; i < FScene->mNumLights; ++i)
        placed.push_back(FScene->mRootNode->FindNode(FScene->mLights[i]->mName));
    std::int64_t placements = 0, moving = 0;
    for (const aiNode* node : placed) {
        if (!node || !FMoving.count(node))
            continue;
        ++moving;
        for (const aiNode* n : PathTo(*node))
            placements += FMoving.count(n) ? std::int64_t(FSamples) : 0;
    }
    if (placements > MaxImportPlacements)
        Fail("sampling the movement of " + std::to_string(moving) + " objects " + std::to_string(FSamples) +
             " times takes " + std::to_string(placements) + " placements, more than " +
             std::to_string(MaxImportPlacements) + "; give a larger --step");
}

// The node's world transform at every sample, or once when it does not move.
std::vector<TMat> TImporter::WorldsOf(const aiNode& node) const
{
    const std::vector<const aiNode*> path = PathTo(node);
    // What lies above the first moving node is the same at every sample.
    TMat still = Scaling(FUnitScale);
    std::size_t first = 0;
    for (; first < path.size() && !FMoving.count(path[first]); ++first)
        still = still * ToDouble(path[first]->mTransformation);
    if (first == path.size())
        return {still};
    std::vector<TMat> worlds(FSamples);
    for (std::size_t k = 0; k < FSamples; ++k) {
        const double seconds = FStart + double(k) * FOptions.Step / UnitsPerSecond;
        TMat world = still;
        for (std::size_t i = first; i < path.size(); ++i) {
            const auto found = FChannels.find(NodeName(path[i]->mName));
            world = world * LocalAt(*path[i], found == FChannels.end() ? nullptr : &found->second, seconds);
        }
        worlds[k] = world;
    }
    return worlds;
}

std::vector<TPose> TImporter::PosesOf(const std::vector<TMat>& worlds, const TMat& local) const
{
    std::vector<TPose> poses;
    poses.reserve(worlds.size());
    for (const TMat& world : worlds)
        poses.push_back(PoseOf(world * local));
    // Neighbouring keys on one side of the sphere, as interpolation wants.
    for (std::size_t k = 1; k < poses.size(); ++k) {
        const TQ& a = poses[k - 1].Rotation;
        TQ& b = poses[k].Rotation;
        if (a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z < 0)
            b = TQ(-b.w, -b.x, -b.y, -b.z);
    }
    return poses;
}

bool TImporter::Moves(const std::vector<TPose>& poses) const
{
    for (const TPose& p : poses) {
        const TPose& a = poses.front();
        const double dot = std::abs(a.Rotation.w * p.Rotation.w + a.Rotation.x * p.Rotation.x +
                                    a.Rotation.y * p.Rotation.y + a.Rotation.z * p.Rotation.z);
        if (Length(p.Position - a.Position) > 1e-9 * (1 + Length(a.Position)) || dot < 1 - 1e-12)
            return true;
    }
    return false;
}

// Rotations are stored conjugated: the player reads them transposed.
TQuat FileRotation(const TQ& q)
{
    return TQuat{float(q.w), float(-q.x), float(-q.y), float(-q.z)};
}

void TImporter::WriteTransform(TSceneWriter& w, std::int32_t ownerId, const std::vector<TPose>& poses)
{
    if (!Moves(poses)) {
        TTransformDesc t;
        t.OwnerId = ownerId;
        t.Position = {float(poses[0].Position.x), float(poses[0].Position.y), float(poses[0].Position.z)};
        t.Rotation = FileRotation(poses[0].Rotation);
        w.Transform(t);
        return;
    }
    TAnimTransformDesc a;
    a.Id = FNextTransformId++;
    a.OwnerId = ownerId;
    a.Kind = 4;
    a.FloatsPerKey = 7;
    a.Step = FOptions.Step;
    a.Keys.reserve(poses.size());
    for (const TPose& p : poses) {
        const TQuat q = FileRotation(p.Rotation);
        a.Keys.push_back({float(p.Position.x), float(p.Position.y), float(p.Position.z), q.x, q.y, q.z, q.w});
    }
    w.AnimTransform(a);
}

// -- Materials and textures ----------------------------------------------------

std::string PercentDecoded(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// y3d export gives a glow plane a texture whose alpha is the glow's
// brightness and whose colour is divided by it; the player adds colour
// times alpha. Turns such an image into that colour, as PNG, and says
// whether it did: an image without alpha is left as it is.
bool PaintedGlow(std::vector<std::uint8_t>& bytes)
{
    TBitmap image;
    try {
        TMemoryStream stream(bytes);
        image = ReadImageByContent(stream);
    } catch (const std::runtime_error&) {
        return false;
    }
    if (BitsPerPixel(image.PixelFormat()) != 32)
        return false;
    const std::size_t w = std::size_t(image.Width()), h = std::size_t(image.Height());
    std::vector<std::uint8_t> rgb;
    rgb.reserve(w * h * 3);
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* s = image.ScanLine(int(y));
        for (std::size_t x = 0; x < w; ++x, s += 4)
            for (const int c : {2, 1, 0})
                rgb.push_back(std::uint8_t((s[c] * s[3] + 127) / 255));
    }
    bytes = EncodePng(rgb.data(), int(w), int(h), 3);
    return true;
}

std::int32_t TImporter::TextureFor(const aiMaterial& material, const std::string& materialName, bool glow)
{
    aiString path;
    unsigned uvIndex = 0;
    aiTextureType type = aiTextureType_BASE_COLOR;
    if (material.GetTexture(type, 0, &path, nullptr, &uvIndex) != AI_SUCCESS) {
        type = aiTextureType_DIFFUSE;
        if (material.GetTexture(type, 0, &path, nullptr, &uvIndex) != AI_SUCCESS)
            return -1;
    }
    if (uvIndex != 0)
        Warn("material " + Quoted(materialName) + ": its texture uses texture-coordinate set " +
             std::to_string(uvIndex) + "; it is drawn with the first");
    // A glow texture comes back as the texture the player adds, apart from
    // the same image taken as it is.
    const std::string reference(path.C_Str(), path.length);
    const std::string key = glow ? reference + '\0' + "glow" : reference;
    if (const auto known = FTextureBySource.find(key); known != FTextureBySource.end())
        return known->second;

    // Where the image comes from: embedded in the file, or a file of its own.
    // An image that cannot be read costs the material its texture, as a
    // missing one does, not the whole import.
    const auto without = [&](const std::string& why) {
        Warn("material " + Quoted(materialName) + ": " + why + "; the material is drawn without it");
        FTextureBySource[key] = -1;
        return -1;
    };
    std::vector<std::uint8_t> bytes;
    std::string name;
    if (const aiTexture* texture = FScene->GetEmbeddedTexture(path.C_Str())) {
        try {
            if (texture->mHeight == 0) {
                const auto* data = reinterpret_cast<const std::uint8_t*>(texture->pcData);
                bytes = ConvertToPng(std::vector<std::uint8_t>(data, data + texture->mWidth),
                                     "texture " + Quoted(reference));
            } else {
                std::vector<std::uint8_t> rgba(std::size_t(texture->mWidth) * texture->mHeight * 4);
                for (std::size_t i = 0; i < std::size_t(texture->mWidth) * texture->mHeight; ++i) {
                    const aiTexel& t = texture->pcData[i];
                    rgba[4 * i] = t.r, rgba[4 * i + 1] = t.g, rgba[4 * i + 2] = t.b, rgba[4 * i + 3] = t.a;
                }
                bytes = EncodePng(rgba.data(), int(texture->mWidth), int(texture->mHeight), 4);
            }
        } catch (const std::runtime_error& e) {
            return without(e.what());
        }
        std::string hint = fs::path(std::string(texture->mFilename.C_Str())).stem().string();
        if (hint.empty())
            hint = "texture" + std::to_string(FTexMaps.size());
        name = fs::path(FOptions.Out).stem().string() + "_" + hint + ".png";
    } else {
        const std::string decoded = PercentDecoded(reference);
        std::string given = decoded;
        std::replace(given.begin(), given.end(), '\\', '/');
        const fs::path asGiven(given);
        // Only files in the source's own folder tree are taken, links
        // followed: a model may name any file on the disk, and what it names
        // would be copied beside the scene, which the user may hand on.
        const std::vector<fs::path> candidates = {asGiven.is_absolute() ? asGiven : FSourceFolder / asGiven,
                                                  FSourceFolder / asGiven.filename()};
        fs::path found;
        bool outside = false;
        for (const fs::path& candidate : candidates) {
            std::error_code error;
            const fs::path real = fs::canonical(candidate, error);
            if (error || !fs::is_regular_file(real, error))
                continue;
            const fs::path inTree = real.lexically_relative(FSourceTree);
            if (inTree.empty() || *inTree.begin() == "..") {
                outside = true;
                continue;
            }
            found = real;
            break;
        }
        if (found.empty())
            return without("texture " + Quoted(decoded) +
                           (outside ? " lies outside the source's folder" : " not found"));
        std::error_code error;
        if (fs::file_size(found, error) > std::uintmax_t(INT_MAX) && !error)
            return without("texture " + Quoted(decoded) + " is too large to read");
        std::ifstream in(found, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        name = asGiven.filename().string();
        if (!PlayerReadsImage(bytes)) {
            try {
                bytes = ConvertToPng(bytes, "texture " + Quoted(decoded));
            } catch (const std::runtime_error& e) {
                return without(e.what());
            }
            name = fs::path(name).stem().string() + ".png";
        }
    }

    if (glow && PaintedGlow(bytes)) {
        name = fs::path(name).stem().string();
        if (name.size() > 5 && name.ends_with("_glow"))
            name.resize(name.size() - 5);
        name += ".png";
    }

    // Never in the place of a file that is there, nor of another output;
    // the same image left by an earlier import is used again.
    name = FFiles.AddNamed(FOutFolder.string(), name, std::move(bytes));

    TTexMapDesc map;
    map.Header.Name = name;
    const auto number = static_cast<std::int32_t>(FTexMaps.size());
    FTexMaps.push_back(map);
    FTextureBySource[key] = number;
    return number;
}

const char* TextureTypeName(aiTextureType type)
{
    switch (type) {
    case aiTextureType_SPECULAR: return "specular";
    case aiTextureType_AMBIENT: return "ambient";
    case aiTextureType_EMISSIVE: return "emission";
    case aiTextureType_HEIGHT: return "height";
    case aiTextureType_NORMALS: return "normal";
    case aiTextureType_SHININESS: return "shininess";
    case aiTextureType_OPACITY: return "opacity";
    case aiTextureType_DISPLACEMENT: return "displacement";
    case aiTextureType_LIGHTMAP: return "light";
    case aiTextureType_REFLECTION: return "reflection";
    case aiTextureType_NORMAL_CAMERA: return "normal";
    case aiTextureType_EMISSION_COLOR: return "emission";
    case aiTextureType_METALNESS: return "metalness";
    case aiTextureType_DIFFUSE_ROUGHNESS: return "roughness";
    case aiTextureType_AMBIENT_OCCLUSION: return "occlusion";
    case aiTextureType_SHEEN: return "sheen";
    case aiTextureType_CLEARCOAT: return "clearcoat";
    case aiTextureType_TRANSMISSION: return "transmission";
    default: return "other";
    }
}

float Clamp01(double v) { return static_cast<float>(std::clamp(v, 0.0, 1.0)); }

void TImporter::ConvertMaterials()
{
    FMaterials.resize(FScene->mNumMaterials);
    for (unsigned i = 0; i < FScene->mNumMaterials; ++i) {
        const aiMaterial& m = *FScene->mMaterials[i];
        TMaterialOut& out = FMaterials[i];
        TMaterialDesc& d = out.Desc;
        const std::string name = m.GetName().C_Str();
        d.Header.Name = name;

        aiColor4D base(0.8f, 0.8f, 0.8f, 1);
        if (m.Get(AI_MATKEY_BASE_COLOR, base) != AI_SUCCESS)
            m.Get(AI_MATKEY_COLOR_DIFFUSE, base);
        float opacity = 1;
        if (m.Get(AI_MATKEY_OPACITY, opacity) == AI_SUCCESS)
            base.a = opacity;
        out.BaseColor = {base.r, base.g, base.b, base.a};

        aiColor3D emission(0, 0, 0);
        m.Get(AI_MATKEY_COLOR_EMISSIVE, emission);
        int twoSided = 0;
        m.Get(AI_MATKEY_TWOSIDED, twoSided);
        int shadingModel = 0;
        m.Get(AI_MATKEY_SHADING_MODEL, shadingModel);
        bool unlit = shadingModel == aiShadingMode_Unlit || shadingModel == aiShadingMode_NoShading;

        // Specular colour and the GL exponent: from glossiness where the file
        // has it, from roughness for metallic-roughness materials, else the
        // file's own specular colour and exponent.
        TVec specular(0, 0, 0);
        double exponent = 0;
        float glossiness = 0, roughness = 0, metallic = 0;
        aiColor3D fileSpecular(0, 0, 0);
        if (m.Get(AI_MATKEY_GLOSSINESS_FACTOR, glossiness) == AI_SUCCESS) {
            m.Get(AI_MATKEY_COLOR_SPECULAR, fileSpecular);
            specular = {fileSpecular.r, fileSpecular.g, fileSpecular.b};
            exponent = 128.0 * glossiness * glossiness;
        } else if (m.Get(AI_MATKEY_ROUGHNESS_FACTOR, roughness) == AI_SUCCESS) {
            m.Get(AI_MATKEY_METALLIC_FACTOR, metallic);
            const double r = std::clamp(double(roughness), 0.0, 1.0), mt = std::clamp(double(metallic), 0.0, 1.0);
            const TVec tint = TVec(0.5, 0.5, 0.5) * (1 - mt) + TVec(base.r, base.g, base.b) * mt;
            specular = tint * (1 - r);
            exponent = 128.0 * (1 - r) * (1 - r);
        } else {
            m.Get(AI_MATKEY_COLOR_SPECULAR, fileSpecular);
            float strength = 1, shininess = 0;
            m.Get(AI_MATKEY_SHININESS_STRENGTH, strength);
            m.Get(AI_MATKEY_SHININESS, shininess);
            specular = TVec(fileSpecular.r, fileSpecular.g, fileSpecular.b) * double(strength);
            exponent = shininess;
        }

        const std::int32_t texture = TextureFor(m, name, FGlowMaterials.count(i) > 0);
        out.Texture = texture;
        const TVector4 lit{base.r, base.g, base.b, base.a};
        if (unlit) {
            // Unlit: a texture replaces the colour (a map of another kind
            // than 1); without one the colour shines as emission.
            out.MapKind = 0;
            d.Ambient = {0, 0, 0, base.a};
            d.Diffuse = {0, 0, 0, base.a};
            d.Specular = {0, 0, 0, 1};
            d.Emission = texture >= 0 ? TVector4{0, 0, 0, 1} : TVector4{base.r, base.g, base.b, 1};
            if (texture >= 0)
                d.Diffuse = lit;
        } else {
            d.Diffuse = lit;
            // Scene lights bring an ambient term of their own: a third of the
            // base colour answers it.
            d.Ambient = {base.r * 0.3f, base.g * 0.3f, base.b * 0.3f, base.a};
            d.Specular = {Clamp01(specular.x), Clamp01(specular.y), Clamp01(specular.z), 1};
            d.Emission = {emission.r, emission.g, emission.b, 1};
        }
        d.Shininess = static_cast<float>(std::clamp(exponent, 0.0, 128.0) / 100.0);
        d.SpecularLevel = 1;
        d.Shading = shadingModel == aiShadingMode_Flat ? 0 : 1;
        d.TwoSided = twoSided ? 1 : 0;
        int wireframe = 0;
        if (m.Get(AI_MATKEY_ENABLE_WIREFRAME, wireframe) == AI_SUCCESS && wireframe)
            d.Wireframe = 1;

        for (int t = aiTextureType_NONE + 1; t <= AI_TEXTURE_TYPE_MAX; ++t) {
            const auto type = static_cast<aiTextureType>(t);
            if (type == aiTextureType_DIFFUSE || type == aiTextureType_BASE_COLOR || m.GetTextureCount(type) == 0)
                continue;
            // The glTF reader hands the base colour texture on as emission
            // too when both are one image; that one is carried.
            aiString other, own;
            if ((type == aiTextureType_EMISSIVE || type == aiTextureType_EMISSION_COLOR) &&
                m.GetTexture(type, 0, &other) == AI_SUCCESS &&
                (m.GetTexture(aiTextureType_BASE_COLOR, 0, &own) == AI_SUCCESS ||
                 m.GetTexture(aiTextureType_DIFFUSE, 0, &own) == AI_SUCCESS) &&
                other == own)
                continue;
            Warn("material " + Quoted(name) + ": its " + TextureTypeName(type) +
                 " texture is not carried; only the base colour texture is");
        }
        if (m.GetTextureCount(aiTextureType_BASE_COLOR) + m.GetTextureCount(aiTextureType_DIFFUSE) > 2)
            Warn("material " + Quoted(name) + ": only its first base colour texture is carried");
    }
}

// -- Meshes --------------------------------------------------------------------

void TImporter::WarnAboutMeshes()
{
    for (unsigned i = 0; i < FScene->mNumMeshes; ++i) {
        const aiMesh& mesh = *FScene->mMeshes[i];
        const std::string name = Quoted(NodeName(mesh.mName));
        if (mesh.HasBones())
            Warn("mesh " + name + " is skinned: it is drawn in its rest pose");
        if (mesh.mNumAnimMeshes)
            Warn("mesh " + name + " has morph targets: it is drawn in its base shape");
        if (mesh.GetNumUVChannels() > 1)
            Warn("mesh " + name + " has " + std::to_string(mesh.GetNumUVChannels()) +
                 " texture-coordinate sets: only the first is carried");
        if (mesh.GetNumColorChannels() > 1)
            Warn("mesh " + name + " has " + std::to_string(mesh.GetNumColorChannels()) +
                 " vertex colour sets: only the first is carried");
    }
}

// The object a node's extras hold under `key`, if any.
const aiMetadata* ExtrasObject(const aiNode& node, const char* key)
{
    const aiMetadata* extras = node.mMetaData;
    for (unsigned i = 0; extras && i < extras->mNumProperties; ++i)
        if (extras->mKeys[i] == aiString(key) && extras->mValues[i].mType == AI_AIMETADATA)
            return static_cast<const aiMetadata*>(extras->mValues[i].mData);
    return nullptr;
}

// The number a metadata entry holds: the glTF reader gives whole numbers as
// integers and the rest as doubles.
std::optional<double> NumberOf(const aiMetadataEntry& value)
{
    switch (value.mType) {
    case AI_DOUBLE: return *static_cast<const double*>(value.mData);
    case AI_FLOAT: return *static_cast<const float*>(value.mData);
    case AI_UINT64: return double(*static_cast<const std::uint64_t*>(value.mData));
    case AI_INT32: return double(*static_cast<const std::int32_t*>(value.mData));
    default: return std::nullopt;
    }
}

// A material's index among the keys of an extras object, which are its
// index as text.
std::optional<unsigned> MaterialKey(const aiString& text, std::size_t materials)
{
    const std::string key = text.C_Str();
    if (key.empty() || key.size() > 9 || !std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const unsigned material = unsigned(std::stoul(key));
    return material < materials ? std::optional(material) : std::nullopt;
}

// y3d export marks the materials of the glow planes it gave glow textures
// (GltfGlowKey); they are known before the materials' textures are taken.
void TImporter::ReadGlows()
{
    if (!IsGltf())
        return;
    for (const aiNode* node : FMeshNodes)
        if (const aiMetadata* marked = ExtrasObject(*node, GltfGlowKey))
            for (unsigned i = 0; i < marked->mNumProperties; ++i)
                if (const auto material = MaterialKey(marked->mKeys[i], FScene->mNumMaterials))
                    FGlowMaterials.insert(*material);
}

// y3d export writes a wireframe material's triangles as lines, three to a
// triangle in its winding, and names such materials, with their line
// widths, in the extras of the nodes that use them (GltfWireframeKey), with
// the colours the player painted them in (GltfWireframeLookKey). The glTF
// reader keeps the materials' order and hands node extras on as metadata. A material
// becomes a wireframe only once lines of it do make triangles: a file
// another tool wrote back may keep the mark and lose the order.
void TImporter::ReadWireframes()
{
    if (!IsGltf())
        return;
    for (const aiNode* node : FMeshNodes) {
        const aiMetadata* marked = ExtrasObject(*node, GltfWireframeKey);
        for (unsigned i = 0; marked && i < marked->mNumProperties; ++i) {
            const auto material = MaterialKey(marked->mKeys[i], FMaterials.size());
            if (!material)
                continue;
            const double width = NumberOf(marked->mValues[i]).value_or(1);
            FWireframes[node][*material] = std::isfinite(width) && width > 0 ? float(std::min(width, 100.0)) : 1;
        }
        // How the player painted them: a colour left out, or not a number
        // from 0 up, keeps what the glTF material gives.
        const aiMetadata* looks = ExtrasObject(*node, GltfWireframeLookKey);
        for (unsigned i = 0; looks && i < looks->mNumProperties; ++i) {
            const auto material = MaterialKey(looks->mKeys[i], FMaterials.size());
            if (!material || looks->mValues[i].mType != AI_AIMETADATA || FWireframeLooks.count(*material))
                continue;
            const auto& look = *static_cast<const aiMetadata*>(looks->mValues[i].mData);
            TMaterialDesc d = FMaterials[*material].Desc;
            const auto read = [&look](const char* key, float& into, double most) {
                for (unsigned k = 0; k < look.mNumProperties; ++k)
                    if (look.mKeys[k] == aiString(key))
                        if (const auto v = NumberOf(look.mValues[k]); v && *v >= 0 && *v <= most)
                            into = float(*v);
            };
            read("diffuse_r", d.Diffuse.x, 1e6), read("diffuse_g", d.Diffuse.y, 1e6);
            read("diffuse_b", d.Diffuse.z, 1e6), read("diffuse_a", d.Diffuse.w, 1);
            read("emission_r", d.Emission.x, 1e6), read("emission_g", d.Emission.y, 1e6);
            read("emission_b", d.Emission.z, 1e6);
            read("specular_r", d.Specular.x, 1e6), read("specular_g", d.Specular.y, 1e6);
            read("specular_b", d.Specular.z, 1e6);
            read("shininess", d.Shininess, 1e6);
            d.Ambient = {d.Diffuse.x * 0.3f, d.Diffuse.y * 0.3f, d.Diffuse.z * 0.3f, d.Diffuse.w};
            FWireframeLooks[*material] = d;
        }
    }
}

// The GL mode of the mesh's faces in the scene file: triangles, lines or
// points; -4 for a marked wireframe, whose lines become triangles again.
std::int32_t TImporter::FaceModeOf(const aiNode& node, const aiMesh& mesh)
{
    const std::int32_t mode = (mesh.mPrimitiveTypes & aiPrimitiveType_TRIANGLE) ? 4
                              : (mesh.mPrimitiveTypes & aiPrimitiveType_LINE)   ? 1
                                                                                : 0;
    const auto marked = FWireframes.find(&node);
    if (marked == FWireframes.end() || !marked->second.count(mesh.mMaterialIndex) ||
        mesh.mPrimitiveTypes != aiPrimitiveType_LINE)
        return mode;
    bool triangles = mesh.mNumFaces % 3 == 0;
    for (unsigned f = 0; f + 2 < mesh.mNumFaces && triangles; f += 3) {
        const aiFace* e = mesh.mFaces + f;
        triangles = e[0].mNumIndices == 2 && e[1].mNumIndices == 2 && e[2].mNumIndices == 2 &&
                    e[0].mIndices[1] == e[1].mIndices[0] && e[1].mIndices[1] == e[2].mIndices[0] &&
                    e[2].mIndices[1] == e[0].mIndices[0];
    }
    if (triangles) {
        TMaterialDesc& d = FMaterials[mesh.mMaterialIndex].Desc;
        if (const auto look = FWireframeLooks.find(mesh.mMaterialIndex); look != FWireframeLooks.end()) {
            d = look->second;
            FMaterials[mesh.mMaterialIndex].BaseColor = d.Diffuse;
        }
        d.Wireframe = 1;
        d.LineWidth = marked->second.at(mesh.mMaterialIndex);
        return -4;
    }
    Warn("node " + Quoted(NodeName(node.mName)) +
         ": its lines marked as a wireframe do not make triangles and stay lines");
    return mode;
}

std::uint32_t TImporter::MeshFlagsOf(const aiNode& node) const
{
    bool colours = false, alpha = false, uvs = false;
    for (unsigned i = 0; i < node.mNumMeshes; ++i) {
        const aiMesh& mesh = *FScene->mMeshes[node.mMeshes[i]];
        uvs |= mesh.HasTextureCoords(0);
        colours |= mesh.HasVertexColors(0);
        alpha |= FVertexAlpha[node.mMeshes[i]];
        alpha |= colours && FMaterials[mesh.mMaterialIndex].BaseColor.w < 1;
    }
    std::uint32_t flags = TMeshFlag::Position3 | TMeshFlag::Normal;
    if (colours)
        flags |= alpha ? TMeshFlag::ColorRGBA : TMeshFlag::ColorRGB;
    if (uvs)
        flags |= TMeshFlag::TexCoord2(0);
    return flags;
}

// A chunk's size, and any position in a scene file, is a signed 32-bit
// number. A node may place one mesh many times and many nodes may share it,
// so a small source can ask for more than that; it is found out before the
// vertices are made.
void TImporter::CheckMeshSizes()
{
    FVertexAlpha.assign(FScene->mNumMeshes, false);
    for (unsigned i = 0; i < FScene->mNumMeshes; ++i) {
        const aiMesh& mesh = *FScene->mMeshes[i];
        for (unsigned v = 0; mesh.HasVertexColors(0) && v < mesh.mNumVertices && !FVertexAlpha[i]; ++v)
            FVertexAlpha[i] = mesh.mColors[0][v].a < 1;
    }
    std::uint64_t total = 0;
    for (const aiNode* node : FMeshNodes) {
        const std::uint64_t stride = std::uint64_t(MeshStride(MeshFlagsOf(*node)));
        // Header, node header, position and rotation, flags and counts.
        std::uint64_t bytes = 20 + 16 + node->mName.length + 28 + 16;
        for (unsigned i = 0; i < node->mNumMeshes; ++i) {
            const aiMesh& mesh = *FScene->mMeshes[node->mMeshes[i]];
            bytes += std::uint64_t(mesh.mNumVertices) * stride * 4 + std::uint64_t(mesh.mNumFaces) * 3 * 4 + 16;
        }
        if (bytes > std::uint64_t(INT32_MAX))
            Fail("node " + Quoted(NodeName(node->mName)) + " takes " + std::to_string(bytes) +
                 " bytes, more than a scene file holds (" + std::to_string(INT32_MAX) + ")");
        total += bytes;
    }
    if (total > std::uint64_t(INT32_MAX))
        Fail("the meshes take " + std::to_string(total) + " bytes, more than a scene file holds (" +
             std::to_string(INT32_MAX) + ")");
}

TMeshDesc TImporter::MeshOf(const aiNode& node, const TMat& bake)
{
    // Normals go through the inverse transpose of what is baked; a mirroring
    // bake turns the triangles round so their fronts stay counter-clockwise.
    aiMatrix3x3t<double> normalMatrix(bake);
    normalMatrix.Inverse().Transpose();
    const bool mirrored = aiMatrix3x3t<double>(bake).Determinant() < 0;

    std::vector<const aiMesh*> meshes;
    for (unsigned i = 0; i < node.mNumMeshes; ++i)
        meshes.push_back(FScene->mMeshes[node.mMeshes[i]]);
    TMeshDesc d;
    d.Flags = MeshFlagsOf(node);
    const bool colours = d.Flags & (TMeshFlag::ColorRGB | TMeshFlag::ColorRGBA);
    const bool alpha = d.Flags & TMeshFlag::ColorRGBA;
    const bool uvs = d.Flags & TMeshFlag::TexCoord2(0);
    // One face record per material and primitive kind: meshes sharing both
    // are drawn as one range.
    std::map<const aiMesh*, std::int32_t> modes;
    for (const aiMesh* m : meshes)
        modes[m] = FaceModeOf(node, *m);
    const auto mode = [&](const aiMesh* m) { return std::abs(modes.at(m)); };
    std::stable_sort(meshes.begin(), meshes.end(), [&](const aiMesh* a, const aiMesh* b) {
        return std::pair(a->mMaterialIndex, mode(a)) < std::pair(b->mMaterialIndex, mode(b));
    });

    const std::int32_t stride = MeshStride(d.Flags);
    // CheckMeshSizes has made sure that all of it fits in a chunk.
    std::size_t vertexTotal = 0, indexTotal = 0;
    for (const aiMesh* m : meshes) {
        vertexTotal += m->mNumVertices;
        indexTotal += std::size_t(m->mNumFaces) * 3;
    }
    d.Vertices.resize(vertexTotal * std::size_t(stride));
    d.Indices.reserve(indexTotal);

    float* out = d.Vertices.data();
    std::int32_t base = 0;
    for (const aiMesh* m : meshes) {
        const TMaterialOut& material = FMaterials[m->mMaterialIndex];
        const TVector4& tint = material.BaseColor;
        const auto* colourSet = m->HasVertexColors(0) ? m->mColors[0] : nullptr;
        const aiVector3D* uvSet = m->HasTextureCoords(0) ? m->mTextureCoords[0] : nullptr;
        for (unsigned v = 0; v < m->mNumVertices; ++v) {
            const TVec p = Transform3(bake, ToDouble(m->mVertices[v]));
            *out++ = float(p.x), *out++ = float(p.y), *out++ = float(p.z);
            TVec n(0, 0, 1);
            if (m->mNormals)
                n = Normalised(normalMatrix * ToDouble(m->mNormals[v]), {0, 0, 1});
            *out++ = float(n.x), *out++ = float(n.y), *out++ = float(n.z);
            if (colours) {
                // The vertex colour stands in for the material's colour, which
                // it multiplies in the source.
                const aiColor4D c = colourSet ? colourSet[v] : aiColor4D(1, 1, 1, 1);
                *out++ = c.r * tint.x, *out++ = c.g * tint.y, *out++ = c.b * tint.z;
                if (alpha)
                    *out++ = c.a * tint.w;
            }
            if (uvs) {
                const aiVector3D uv = uvSet ? uvSet[v] : aiVector3D();
                *out++ = uv.x, *out++ = uv.y;
            }
        }
        const bool wireframe = modes.at(m) < 0;
        const std::int32_t faceMode = mode(m);
        const auto first = static_cast<std::int32_t>(d.Indices.size());
        if (wireframe) {
            // Three edges a-b, b-c, c-a to a triangle.
            for (unsigned f = 0; f < m->mNumFaces; f += 3) {
                const auto a = base + std::int32_t(m->mFaces[f].mIndices[0]);
                const auto b = base + std::int32_t(m->mFaces[f + 1].mIndices[0]);
                const auto c = base + std::int32_t(m->mFaces[f + 2].mIndices[0]);
                if (mirrored)
                    d.Indices.insert(d.Indices.end(), {a, c, b});
                else
                    d.Indices.insert(d.Indices.end(), {a, b, c});
            }
        } else {
            for (unsigned f = 0; f < m->mNumFaces; ++f) {
                const aiFace& face = m->mFaces[f];
                const unsigned corners = face.mNumIndices;
                if ((faceMode == 4 && corners != 3) || (faceMode == 1 && corners != 2) || (faceMode == 0 && corners != 1))
                    continue;
                if (faceMode == 4 && mirrored) {
                    d.Indices.insert(d.Indices.end(), {base + std::int32_t(face.mIndices[0]),
                                                       base + std::int32_t(face.mIndices[2]),
                                                       base + std::int32_t(face.mIndices[1])});
                } else {
                    for (unsigned c = 0; c < corners; ++c)
                        d.Indices.push_back(base + std::int32_t(face.mIndices[c]));
                }
            }
        }
        const auto count = static_cast<std::int32_t>(d.Indices.size()) - first;
        const std::int32_t materialNumber = FMaterialNumber[m->mMaterialIndex];
        if (!d.Faces.empty() && d.Faces.back().MaterialIndex == materialNumber && d.Faces.back().Mode == faceMode)
            d.Faces.back().Count += count;
        else if (count > 0)
            d.Faces.push_back({faceMode, materialNumber, first, count});
        base += static_cast<std::int32_t>(m->mNumVertices);
    }
    return d;
}

void TImporter::ConvertMeshes(TSceneWriter& w)
{
    for (const aiNode* node : FMeshNodes) {
        const std::vector<TMat> worlds = WorldsOf(*node);
        // What the transform cannot hold (scale, shear) goes into the
        // vertices: world = rotation and position after the bake.
        const TPose start = PoseOf(worlds[0]);
        TMat rotationInverse = RotationMatrix(start.Rotation);
        rotationInverse.Transpose();
        TMat bake = rotationInverse * worlds[0];
        bake.a4 = bake.b4 = bake.c4 = 0;

        const std::vector<TPose> poses = PosesOf(worlds, TMat());
        if (worlds.size() > 1) {
            const TMat scale0 = bake;
            for (std::size_t k = 1; k < worlds.size(); ++k) {
                TMat r = RotationMatrix(poses[k].Rotation);
                r.Transpose();
                const TMat b = r * worlds[k];
                bool same = true;
                for (int i = 0; i < 3 && same; ++i)
                    for (int j = 0; j < 3 && same; ++j)
                        same = std::abs(b[i][j] - scale0[i][j]) <= 1e-4 * (1 + std::abs(scale0[i][j]));
                if (!same) {
                    Warn("node " + Quoted(NodeName(node->mName)) +
                         " changes size in its animation: the scene file keeps its size at the start");
                    break;
                }
            }
        }

        TMeshDesc mesh = MeshOf(*node, bake);
        const std::int32_t id = FNextId++;
        mesh.Header = {id, 0, 0, NodeName(node->mName)};
        mesh.Position = {float(start.Position.x), float(start.Position.y), float(start.Position.z)};
        mesh.Rotation = FileRotation(start.Rotation);
        // The scene's extent at the start, for a camera of our own and for
        // lights from far away.
        const TMat place = Translation(start.Position) * RotationMatrix(start.Rotation);
        const std::int32_t stride = MeshStride(mesh.Flags);
        for (std::size_t v = 0; v + 2 < mesh.Vertices.size(); v += std::size_t(stride)) {
            const TVec p = Point(place, {mesh.Vertices[v], mesh.Vertices[v + 1], mesh.Vertices[v + 2]});
            FBoxMin = TVec(std::min(FBoxMin.x, p.x), std::min(FBoxMin.y, p.y), std::min(FBoxMin.z, p.z));
            FBoxMax = TVec(std::max(FBoxMax.x, p.x), std::max(FBoxMax.y, p.y), std::max(FBoxMax.z, p.z));
        }
        w.Mesh(mesh);
        // The stream views its vertices and indices until the file is written.
        FMeshDescs.push_back(std::move(mesh));
        WriteTransform(w, id, poses);
    }
}

// -- Camera and light ------------------------------------------------------------

const aiNode* FindNode(const aiScene& scene, const aiString& name)
{
    return scene.mRootNode->FindNode(name);
}

// The vertical field of view, in radians, that the picture keeps: the
// player paints 4:3, so a wider picture loses its sides and a narrower one
// gains some, as the vertical angle stays.
double TImporter::VerticalAngle(const aiCamera& camera, const std::string& name)
{
    const double aspect = camera.mAspect;
    if (IsGltf()) {
        // The glTF reader reports the vertical angle times the aspect, or
        // the vertical angle itself when the file gives no aspect.
        return aspect > 0 ? camera.mHorizontalFOV / aspect : camera.mHorizontalFOV;
    }
    // The others report a horizontal angle, the picture's own.
    const double across = std::tan(camera.mHorizontalFOV / 2);
    if (!FromBlender())
        return 2 * std::atan(across / (aspect > 0 ? aspect : 4.0 / 3.0));
    // Blender writes the angle across its sensor's width whatever the
    // camera's sensor fit, and not the fit: taken on its 36 by 24 mm
    // sensor fitted to the picture's height, which is what glTF from
    // Blender gives for such a camera at any size of picture. With Auto
    // or Horizontal fit the angle across the width is the picture's own,
    // which differs unless the picture is 3:2.
    const double vertical = 2 * std::atan(across * 24 / 36);
    if (aspect > 0 && std::abs(aspect - 1.5) > 1e-3)
        Warn("camera " + Quoted(name) + ": Blender's " + FFormat.substr(1) +
             " does not say how the camera fits the picture; taken as Sensor Fit Vertical (glTF says it)");
    return vertical;
}

void TImporter::ConvertCamera(TSceneWriter& w)
{
    const aiCamera* camera = nullptr;
    for (unsigned i = 0; i < FScene->mNumCameras; ++i) {
        const aiCamera* c = FScene->mCameras[i];
        const bool chosen = FOptions.Camera.empty() ? camera == nullptr : NodeName(c->mName) == FOptions.Camera;
        if (chosen && !camera && FindNode(*FScene, c->mName))
            camera = c;
    }
    if (!FOptions.Camera.empty() && !camera)
        Fail("no camera named " + Quoted(FOptions.Camera));
    for (unsigned i = 0; i < FScene->mNumCameras; ++i)
        if (FScene->mCameras[i] != camera)
            Warn("camera " + Quoted(NodeName(FScene->mCameras[i]->mName)) +
                 " is not carried: a scene has one camera");

    TCameraDesc desc;
    desc.Header = {CameraId, 0, 0, "Camera"};
    std::vector<TPose> poses;
    if (camera) {
        desc.Header.Name = NodeName(camera->mName);
        const double vertical = VerticalAngle(*camera, desc.Header.Name);
        const double degrees = std::clamp(vertical * 180 / Pi, 1.0, 170.0);
        desc.Lens = static_cast<float>(degrees * 4.5 / 3.5);
        if (camera->mOrthographicWidth > 0)
            Warn("camera " + Quoted(desc.Header.Name) + " is orthographic: it is shown in perspective");
        const double unit = FUnitScale;
        desc.Near = static_cast<float>(camera->mClipPlaneNear > 0 ? camera->mClipPlaneNear * unit : 0.1);
        desc.Far = static_cast<float>(camera->mClipPlaneFar > camera->mClipPlaneNear ? camera->mClipPlaneFar * unit
                                                                                      : desc.Near * 10000);
        // The glTF reader copies the node's translation into the camera's
        // own position, which glTF cameras do not have.
        const TVec position = IsGltf() ? TVec() : ToDouble(camera->mPosition);
        const TMat local = Translation(position) * LookRotation(ToDouble(camera->mLookAt), ToDouble(camera->mUp));
        poses = PosesOf(WorldsOf(*FindNode(*FScene, camera->mName)), local);
    } else {
        // A camera of our own that sees the whole scene at the start, from
        // in front and a little above.
        const TVec centre = (FBoxMin + FBoxMax) * 0.5;
        const double radius = std::max(Length(FBoxMax - FBoxMin) / 2, 1e-3);
        constexpr double Fov = 45;
        const double distance = radius / std::sin(Fov / 2 * Pi / 180) * 1.05;
        const TVec ahead = Normalised(TVec(0, -0.4, -1), {0, 0, -1});
        const TVec eye = centre - ahead * distance;
        desc.Lens = static_cast<float>(Fov * 4.5 / 3.5);
        desc.Near = static_cast<float>(std::max((distance - radius) / 2, distance / 1000));
        desc.Far = static_cast<float>((distance + radius) * 2);
        poses.push_back(PoseOf(Translation(eye) * LookRotation(ahead, {0, 1, 0})));
    }
    w.Camera(desc);
    WriteTransform(w, CameraId, poses);
}

void TImporter::ConvertLight(TSceneWriter& w)
{
    const aiLight* light = nullptr;
    for (unsigned i = 0; i < FScene->mNumLights; ++i) {
        const aiLight* l = FScene->mLights[i];
        const bool paintable = l->mType == aiLightSource_POINT || l->mType == aiLightSource_SPOT ||
                               l->mType == aiLightSource_DIRECTIONAL;
        if (!light && paintable && FindNode(*FScene, l->mName)) {
            light = l;
            continue;
        }
        Warn("light " + Quoted(NodeName(l->mName)) + " is not carried: " +
             (paintable ? "the player paints one light" : "only point, spot and directional lights are"));
    }
    if (!light)
        return;

    TLightDesc desc;
    const std::string name = NodeName(light->mName);
    desc.Header = {FNextId++, 0, 0, name};
    const std::int32_t carrierId = FNextId++;
    desc.Header.ParentId = carrierId;
    // Photometric strengths (candela, watts) mean nothing to an
    // unattenuated light: colours brighter than twice white shine white.
    TVec colour(light->mColorDiffuse.r, light->mColorDiffuse.g, light->mColorDiffuse.b);
    const double brightest = std::max({colour.x, colour.y, colour.z});
    if (brightest > 2)
        colour = colour / brightest;
    // y3d export keeps the strength the player painted the light with.
    const aiNode* carried = FindNode(*FScene, light->mName);
    double painted = -1;
    if (IsGltf() && carried && carried->mMetaData) {
        const aiMetadata& extras = *carried->mMetaData;
        float single = 0;
        std::uint64_t whole = 0;
        if (!extras.Get(GltfLightStrengthKey, painted) && extras.Get(GltfLightStrengthKey, single))
            painted = single;
        else if (extras.Get(GltfLightStrengthKey, whole))
            painted = double(whole);
    }
    if (brightest > 0 && std::isfinite(painted) && painted >= 0)
        colour = TVec(light->mColorDiffuse.r, light->mColorDiffuse.g, light->mColorDiffuse.b) / brightest * painted;
    desc.Color = {float(colour.x), float(colour.y), float(colour.z)};
    desc.Multiplier = 1;
    if (light->mType == aiLightSource_SPOT) {
        desc.Spot = true;
        // glTF gives the half angle, the others the whole cone.
        const bool half = IsGltf();
        desc.Cone = static_cast<float>(light->mAngleOuterCone * (half ? 2 : 1) * 180 / Pi);
    }

    const TVec up = Length(ToDouble(light->mUp)) > 1e-9 ? ToDouble(light->mUp) : TVec(0, 1, 0);
    const TVec direction = Length(ToDouble(light->mDirection)) > 1e-9 ? ToDouble(light->mDirection) : TVec(0, 0, -1);
    const TMat local = Translation(ToDouble(light->mPosition)) * LookRotation(direction, up);
    std::vector<TPose> poses = PosesOf(WorldsOf(*FindNode(*FScene, light->mName)), local);
    if (light->mType == aiLightSource_DIRECTIONAL) {
        // A point light far back along the direction stands in for the sun.
        const TVec centre = (FBoxMin + FBoxMax) * 0.5;
        const double far = std::max(Length(FBoxMax - FBoxMin), 1.0) * 100;
        for (TPose& pose : poses) {
            const TVec ahead = Transform3(RotationMatrix(pose.Rotation), {0, 0, -1});
            pose.Position = centre - ahead * far;
        }
    }

    TMeshDesc carrier;
    carrier.Header = {carrierId, 0, 0, name};
    carrier.Flags = TMeshFlag::Position3 | TMeshFlag::Normal;
    carrier.Position = {float(poses[0].Position.x), float(poses[0].Position.y), float(poses[0].Position.z)};
    w.Mesh(carrier, [&] { w.Light(desc); });
    WriteTransform(w, carrierId, poses);
}

void CollectMeshNodes(const aiNode& node, std::vector<const aiNode*>& out)
{
    if (node.mNumMeshes > 0)
        out.push_back(&node);
    for (unsigned i = 0; i < node.mNumChildren; ++i)
        CollectMeshNodes(*node.mChildren[i], out);
}

std::vector<std::string> TImporter::Run()
{
    if (FOptions.Step < 1 || FOptions.Step > MaxImportStep)
        throw EImportError("--step: " + std::to_string(FOptions.Step) + " is outside 1 to " +
                           std::to_string(MaxImportStep));
    const std::string out = fs::absolute(FOptions.Out).string();
    FOutFolder = fs::path(out).parent_path();
    // The scene file's name is taken first: it may not be the source, a
    // folder in its way is found before the work, and no texture takes it.
    try {
        FFiles.Protect(FOptions.Source);
        FFiles.Add(out, std::vector<std::uint8_t>());
    } catch (const std::exception& e) {
        throw EImportError(e.what()); // names the file written
    }
    Read();
    CollectChannels();
    CollectMeshNodes(*FScene->mRootNode, FMeshNodes);
    FindMoving(*FScene->mRootNode, false);
    CheckSampling();
    WarnAboutMeshes();
    ReadGlows();
    ConvertMaterials();
    ReadWireframes();

    // Materials are numbered among those written, in the source's order.
    std::vector<bool> used(FMaterials.size(), false);
    for (const aiNode* node : FMeshNodes)
        for (unsigned i = 0; i < node->mNumMeshes; ++i)
            used[FScene->mMeshes[node->mMeshes[i]]->mMaterialIndex] = true;
    FMaterialNumber.assign(FMaterials.size(), -1);
    std::int32_t written = 0;
    for (std::size_t i = 0; i < used.size(); ++i)
        if (used[i])
            FMaterialNumber[i] = written++;

    CheckMeshSizes();

    // Meshes first into a stream of their own: the camera and the light
    // want the scene's extent, and the light's carrier goes before them.
    // Their vertices and indices are written to the file from where they
    // were made, not copied into the stream.
    TPieceStream meshes;
    {
        TSceneWriter w(meshes);
        ConvertMeshes(w);
    }
    TMemoryStream stream;
    TSceneWriter w(stream);
    ConvertCamera(w);
    for (TTexMapDesc& map : FTexMaps) {
        map.Header.Id = FNextId++;
        w.TexMap(map);
    }
    for (std::size_t i = 0; i < FMaterials.size(); ++i) {
        if (!used[i])
            continue;
        TMaterialOut& m = FMaterials[i];
        m.Desc.Header.Id = FNextId++;
        if (m.Texture < 0) {
            w.Material(m.Desc);
            continue;
        }
        TMapDesc map;
        map.MapKind = m.MapKind;
        map.TextureNumber = m.Texture;
        w.Material(m.Desc, [&] { w.Map(map); });
    }
    ConvertLight(w);
    std::vector<std::span<const std::uint8_t>> pieces = meshes.Pieces();
    pieces.insert(pieces.begin(), std::span(stream.Bytes()));
    try {
        FFiles.Add(out, std::move(pieces));
        return FFiles.Commit();
    } catch (const std::exception& e) {
        throw EImportError(e.what()); // names the file written
    }
}

} // namespace

std::vector<std::string> ImportScene(const TImportOptions& options)
{
    TImporter importer(options);
    try {
        return importer.Run();
    } catch (const EImportError&) {
        throw;
    } catch (const std::exception& e) {
        throw EImportError(options.Source + ": " + e.what());
    }
}

} // namespace vendrake
