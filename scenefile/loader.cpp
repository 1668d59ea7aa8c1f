#include "scenefile/loader.h"

#include "anim/anim_prs.h"
#include "stream/stream.h"
#include "render/light.h"
#include "render/material.h"
#include "render/mesh.h"
#include "render/texture.h"
#include "scene/control.h"
#include "scene/gl_entry_points.h"
#include "scene/transform.h"
#include "scene/viewport.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace vendrake {

std::string ChunkTypeName(std::uint32_t typeKey)
{
    switch (typeKey) {
    case ChunkTypeMesh:
    case ChunkTypeMaterial:
    case ChunkTypeMap:
    case ChunkTypeTexture:
    case ChunkTypeTransform:
    case ChunkTypeCamera:
    case ChunkTypeAnimTransform:
    case ChunkTypeLight: {
        std::string text(4, ' ');
        for (int i = 0; i < 4; ++i)
            text[static_cast<std::size_t>(i)] = static_cast<char>((typeKey >> (24 - 8 * i)) & 0xFF);
        return text;
    }
    default: {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", typeKey);
        return text;
    }
    }
}

void TgrLoader::RegisterNodeClass(const TNodeClass& nodeClass, std::uint32_t groupKey, std::uint32_t typeKey)
{
    std::erase_if(FClasses, [&](const TgrLoaderClass& c) { return c.GroupKey == groupKey && c.TypeKey == typeKey; });
    FClasses.push_back({&nodeClass, groupKey, typeKey});
}

void TgrLoader::RegisterNodeClasses()
{
    RegisterNodeClass(TgrPrimitive::ClassRef(), ChunkGroupKey, ChunkTypeMesh);
    RegisterNodeClass(TgrMaterial::ClassRef(), ChunkGroupKey, ChunkTypeMaterial);
    RegisterNodeClass(TgrMap::ClassRef(), ChunkGroupKey, ChunkTypeMap);
    RegisterNodeClass(TgrTexMap2d::ClassRef(), ChunkGroupKey, ChunkTypeTexture);
    RegisterNodeClass(TgrPRS::ClassRef(), ChunkGroupKey, ChunkTypeTransform);
    RegisterNodeClass(TgrViewPort::ClassRef(), ChunkGroupKey, ChunkTypeCamera);
    RegisterNodeClass(TgrAnimPRS::ClassRef(), ChunkGroupKey, ChunkTypeAnimTransform);
    RegisterNodeClass(TgrLight::ClassRef(), ChunkGroupKey, ChunkTypeLight);
}

const TNodeClass* TgrLoader::FindNodeClass(std::uint32_t groupKey, std::uint32_t typeKey) const
{
    for (const TgrLoaderClass& c : FClasses)
        if (c.GroupKey == groupKey && c.TypeKey == typeKey)
            return c.NodeClass;
    return nullptr;
}

void TgrLoader::Fail(std::int64_t offset, std::uint32_t typeKey, const std::string& what) const
{
    throw ELoadError(FSource + ": chunk " + ChunkTypeName(typeKey) + " at byte offset " +
                     std::to_string(offset) + ": " + what);
}

void TgrLoader::LoadFromFile(const std::string& fileName)
{
    TFileStream stream(fileName, TFileMode::OpenRead);
    LoadFromStream(stream);
    SortNodes();
    BuildMaterials();
}

void TgrLoader::LoadFromStream(TStream& stream)
{
    FSource = stream.Name() == "memory" ? stream.Name() : "'" + stream.Name() + "'";
    Root = std::make_shared<TgrTree>();
    FMaterialsBuilt = false;
    FScene = nullptr;
    // Positions and sizes are compared as the file's signed 32-bit values.
    while (stream.Position() + 20 < stream.Size())
        ReadChunk(stream, *Root, 0);
}

void TgrLoader::ReadChunk(TStream& stream, TgrTree& parent, int depth, std::int64_t parentEnd)
{
    if (parentEnd < 0)
        parentEnd = stream.Size();
    const std::int64_t start = stream.Position();
    const TChunkHeader header = TChunkHeader::Read(stream);
    if (depth > MaxNesting)
        Fail(start, header.TypeKey, "nested more than " + std::to_string(MaxNesting) + " chunks deep");
    const TNodeClass* nodeClass = FindNodeClass(header.GroupKey, header.TypeKey);
    if (header.Size == 0) {
        if (OnChunk)
            OnChunk({start, depth, header, nullptr, nullptr});
        return;
    }
    const auto size = static_cast<std::int32_t>(header.Size);
    if (size < 20)
        Fail(start, header.TypeKey, "chunk size " + std::to_string(size) + " is below the 20-byte header");
    const std::int64_t end = start + size;
    if (end > stream.Size())
        Fail(start, header.TypeKey, "chunk size " + std::to_string(size) + " runs past the end of the file (" +
                                        std::to_string(stream.Size()) + " bytes)");
    if (end > parentEnd)
        Fail(start, header.TypeKey, "chunk size " + std::to_string(size) +
                                        " runs past the end of the chunk it is nested in (byte " +
                                        std::to_string(parentEnd) + ")");
    if (!nodeClass) {
        if (OnChunk)
            OnChunk({start, depth, header, nullptr, nullptr});
        stream.Seek(end); // skipped with everything nested in it
        return;
    }
    TgrTreePtr node = nodeClass->Create();
    try {
        node->ReadFromStream(stream, false);
    } catch (const EStreamError& e) {
        Fail(start, header.TypeKey, e.what());
    }
    if (stream.Position() > end)
        Fail(start, header.TypeKey, "payload of " + std::to_string(stream.Position() - start - 20) +
                                        " bytes reads past the chunk's end (size " + std::to_string(size) + ")");
    parent.AddChild(node);
    if (OnChunk)
        OnChunk({start, depth, header, nodeClass, node.get()});
    if (stream.Position() < end)
        ReadChunk(stream, *node, depth + 1, end);
}

void TgrLoader::SortNodes()
{
    Others = std::make_shared<TgrTree>();
    TexMaps = std::make_shared<TgrTree>();
    Maps = std::make_shared<TgrTree>();
    Materials = std::make_shared<TgrTree>();
    Transforms = std::make_shared<TgrTree>();
    AnimTransforms = std::make_shared<TgrTree>();
    Lights = std::make_shared<TgrTree>();
    FAnims.clear();
    if (!Root)
        Root = std::make_shared<TgrTree>();
    for (const TgrTreePtr& node : Root->Children()) {
        if (node->Is<TgrMaterial>()) {
            Materials->AddChild(node);
        } else if (node->Is<TgrMap>()) {
            Maps->AddChild(node);
        } else if (node->Is<TgrTexMap2d>()) {
            TexMaps->AddChild(node);
        } else if (node->Is<TgrPRS>()) {
            Transforms->AddChild(node);
        } else if (node->Is<TgrLight>()) {
            Lights->AddChild(node);
            static_cast<TgrLight&>(*node).SetNumber(Lights->Count() - 1);
        } else if (node->Is<TgrAnimPRS>()) {
            AnimTransforms->AddChild(node);
            auto& anim = static_cast<TgrAnimPRS&>(*node);
            if (anim.PositionTrack)
                FAnims.push_back(anim.PositionTrack.get());
            if (anim.RotationTrack)
                FAnims.push_back(anim.RotationTrack.get());
        } else {
            Others->AddChild(node);
        }
    }
}

void TgrLoader::BuildMaterials()
{
    // Building adds texture nodes under the loaded materials: a second pass
    // over the same nodes would add them again.
    if (FMaterialsBuilt)
        return;
    FMaterialsBuilt = true;
    MaterialTree = std::make_shared<TgrTree>();
    if (!Materials)
        SortNodes();
    for (const TgrTreePtr& m : Materials->Children()) {
        MaterialTree->AddChild(m);
        m->SetAutoRestore(false);
        // Only the first map gets a texture: once t moves on to the new
        // texture (or blend) node, which holds no maps, the walk finds none.
        TgrTreePtr t = m;
        const int count = m->Count();
        for (int j = 0; j < count; ++j) {
            const TgrTreePtr& c = t->GetChild(j);
            if (!c || !c->Is<TgrMap>())
                continue;
            const auto& map = static_cast<const TgrMap&>(*c);
            const TgrTreePtr& found = TexMaps->GetChild(map.TextureNumber);
            if (!found)
                throw ELoadError(FSource + ": material \"" + m->Name + "\" uses texture map " +
                                 std::to_string(map.TextureNumber) + ", but the file holds " +
                                 std::to_string(TexMaps->Count()));
            auto texMap = std::static_pointer_cast<TgrTexMap2d>(found);
            auto texture = std::make_shared<TgrTexture>();
            texture->SetAutoRestore(false);
            texture->SetTexMap(texMap);
            texture->GetTexMap()->SetAutoRestore(false);
            t->AddChild(texture);
            t = texture;
            if (map.MapKind == 1) {
                texture->GetTexEnv()->asSimple()->SetMode(2);
                if (texture->GetTexMap()->BitsPerPixel == 32) {
                    auto blend = std::make_shared<TgrBlend>();
                    blend->SetAutoRestore(false);
                    blend->SourceFactor = GL_SRC_ALPHA;
                    blend->DestFactor = GL_ONE_MINUS_SRC_ALPHA;
                    t->AddChild(blend);
                    t = blend;
                }
            }
        }
    }
}

TgrTreePtr TgrLoader::BuildScene()
{
    // The scene shares the loaded nodes and inverts static camera
    // transforms in place: it is built once per load, then handed out again.
    if (FScene)
        return FScene;
    if (!Others)
        SortNodes();
    if (!MaterialTree)
        BuildMaterials();
    CheckMeshHierarchy();
    FAttachments = 0;
    FMeshChildren.clear();
    for (const TgrTreePtr& node : Others->Children())
        if (node->Is<TgrPrimitive>())
            FMeshChildren[node->ParentId].push_back(node);
    auto scene = std::make_shared<TgrTree>();
    for (const TgrTreePtr& node : Others->Children())
        if (node->Is<TgrViewPort>())
            AttachViewport(*scene, node);
    TgrTree* parent = scene.get();
    if (scene->Count() > 0)
        if (TgrTree* viewport = FindViewport(*scene))
            parent = viewport;
    // The camera's transform sits above every mesh; a mesh that shares it (a
    // camera and a mesh with one Id) would make the scene contain itself.
    FViewportTransform = nullptr;
    for (const TgrTreePtr& node : scene->Children())
        if (node.get() != parent && std::ranges::find(node->Children(), parent, &TgrTreePtr::get) !=
                                        node->Children().end())
            FViewportTransform = node.get();
    // Without a camera the meshes hang from the scene root.
    for (const TgrTreePtr& node : Others->Children())
        if (node->Is<TgrPrimitive>())
            AttachPrimitive(*parent, node, 0);
    FScene = scene;
    return scene;
}

TgrTreePtr TgrLoader::FindTransform(std::int32_t ownerId) const
{
    for (const TgrTreePtr& node : AnimTransforms->Children())
        if (static_cast<const TgrAnimPRS&>(*node).OwnerId == ownerId)
            return node;
    for (const TgrTreePtr& node : Transforms->Children())
        if (static_cast<const TgrPRS&>(*node).OwnerId == ownerId)
            return node;
    return nullptr;
}

void TgrLoader::AttachViewport(TgrTree& scene, const TgrTreePtr& viewport)
{
    TgrTree* t = &scene;
    if (const TgrTreePtr transform = FindTransform(viewport->Id)) {
        // A camera's transform places the scene: applied inverted.
        if (transform->Is<TgrAnimPRS>())
            static_cast<TgrAnimPRS&>(*transform).Inverted = true;
        else
            static_cast<TgrPRS&>(*transform).InvertMatrix();
        t = scene.AddChild(transform).get();
        t->Name = viewport->Name;
    }
    t->AddChild(viewport);
}

TgrTree* TgrLoader::FindViewport(TgrTree& node)
{
    TgrTree* result = nullptr;
    for (const TgrTreePtr& c : node.Children()) {
        if (c->Is<TgrViewPort>())
            return c.get();
        result = FindViewport(*c);
    }
    return result;
}

void TgrLoader::CheckMeshHierarchy()
{
    // Children of a mesh are the meshes whose ParentId is its Id. Attached
    // nodes are shared, so a loop here would make the scene a cycle.
    std::multimap<std::int32_t, TgrPrimitive*> byParent;
    std::vector<TgrPrimitive*> meshes;
    for (const TgrTreePtr& node : Others->Children())
        if (node->Is<TgrPrimitive>()) {
            auto* mesh = static_cast<TgrPrimitive*>(node.get());
            meshes.push_back(mesh);
            byParent.emplace(mesh->ParentId, mesh);
        }
    std::map<const TgrPrimitive*, int> state; // 1 on the current path, 2 done
    struct Frame {
        TgrPrimitive* Mesh;
        std::multimap<std::int32_t, TgrPrimitive*>::iterator Next, End;
    };
    for (TgrPrimitive* root : meshes) {
        if (state[root] == 2)
            continue;
        std::vector<Frame> path;
        auto push = [&](TgrPrimitive* mesh) {
            state[mesh] = 1;
            auto [first, last] = byParent.equal_range(mesh->Id);
            path.push_back({mesh, first, last});
        };
        push(root);
        while (!path.empty()) {
            Frame& top = path.back();
            if (top.Next == top.End) {
                state[top.Mesh] = 2;
                path.pop_back();
                continue;
            }
            TgrPrimitive* child = (top.Next++)->second;
            if (state[child] == 1)
                throw ELoadError(FSource + ": mesh \"" + child->Name + "\" (Id " + std::to_string(child->Id) +
                                 ") is its own ancestor through ParentId " + std::to_string(child->ParentId));
            if (state[child] == 0) {
                if (static_cast<int>(path.size()) >= MaxMeshDepth)
                    throw ELoadError(FSource + ": mesh \"" + child->Name + "\" lies more than " +
                                     std::to_string(MaxMeshDepth) + " meshes deep");
                push(child);
            }
        }
    }
}

void TgrLoader::AttachPrimitive(TgrTree& parent, const TgrTreePtr& node, int depth)
{
    if (++FAttachments > MaxAttachments)
        throw ELoadError(FSource + ": the scene attaches meshes more than " + std::to_string(MaxAttachments) +
                         " times");
    auto& mesh = static_cast<TgrPrimitive&>(*node);
    try {
        mesh.SetMaterials(MaterialTree);
    } catch (const EMeshError& e) {
        throw ELoadError(FSource + ": " + e.what());
    }
    mesh.ChoosePaintMethod();

    const TgrTreePtr transform = FindTransform(mesh.Id);
    if (transform && transform.get() == FViewportTransform)
        throw ELoadError(FSource + ": mesh \"" + mesh.Name + "\" (Id " + std::to_string(mesh.Id) +
                         ") shares its transform with the camera it hangs under");
    TgrTree* t = &parent;
    if (transform) {
        t = parent.AddChild(transform).get();
        t->Name = mesh.Name;
    }
    TgrTree& q = *t->AddChild(node);
    if (auto children = FMeshChildren.find(mesh.Id); children != FMeshChildren.end())
        for (const TgrTreePtr& child : children->second)
            AttachPrimitive(q, child, depth + 1);
}

} // namespace vendrake
