#pragma once
// TgrLoader turns a scene file into a paintable tree: it reads the chunks
// into nodes of the registered classes, sorts the top-level nodes into typed
// lists, builds the material tree (material -> texture -> blend), and
// assembles the scene under its camera on request.
//
// A scene file is untrusted: sizes that point outside the file or their
// chunk, nesting beyond MaxNesting, mesh hierarchies that loop or run deeper
// than MaxMeshDepth, a mesh that shares the transform of the camera above it,
// and references to missing texture maps or materials are load errors
// (ELoadError naming the file, the byte offset, the chunk type and the value).
#include "stream/chunk.h"
#include "scene/node_class.h"
#include "scene/tree.h"

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace vendrake {

class TAnim;
class TgrPrimitive;
class TgrViewPort;
class TStream;

class ELoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TgrLoaderClass {
    const TNodeClass* NodeClass = nullptr;
    std::uint32_t GroupKey = 0;
    std::uint32_t TypeKey = 0;
};

// "MESH" for a registered type key read as big-endian text, else 0x%08X.
std::string ChunkTypeName(std::uint32_t typeKey);

class TgrLoader {
public:
    static constexpr int MaxNesting = 64;
    static constexpr int MaxMeshDepth = 256;
    // Attachments of meshes in the assembled scene; shared meshes are counted
    // once per place they are attached.
    static constexpr std::int64_t MaxAttachments = 1 << 20;

    // Removes any entry with the same keys, then appends.
    void RegisterNodeClass(const TNodeClass& nodeClass, std::uint32_t groupKey, std::uint32_t typeKey);
    // The eight node classes of scene files, in table order.
    void RegisterNodeClasses();
    const TNodeClass* FindNodeClass(std::uint32_t groupKey, std::uint32_t typeKey) const;
    const std::vector<TgrLoaderClass>& Classes() const { return FClasses; }

    // LoadFromStream, SortNodes and BuildMaterials; the file is closed on
    // every path.
    void LoadFromFile(const std::string& fileName);
    // A fresh Root with every top-level chunk; stops when 20 bytes or fewer
    // remain.
    void LoadFromStream(TStream& stream);
    // One chunk and at most one nested chunk, appended to parent. A chunk
    // must end by parentEnd (its parent chunk's end; -1: the file's end).
    void ReadChunk(TStream& stream, TgrTree& parent, int depth = 0, std::int64_t parentEnd = -1);
    void SortNodes();
    // Once per load; later calls do nothing.
    void BuildMaterials();
    // A new tree: cameras under their transforms, meshes under the (last)
    // camera's viewport, each under its transform and its parent mesh. Built
    // once per load; later calls return the same tree.
    TgrTreePtr BuildScene();

    // The animation tracks to evaluate every frame, position before rotation.
    const std::vector<TAnim*>& Anims() const { return FAnims; }

    // Called for each chunk as it is read, for tools that list a file.
    struct TChunkEvent {
        std::int64_t Offset;
        int Depth;
        TChunkHeader Header;
        const TNodeClass* NodeClass; // none when the chunk is skipped
        const TgrTree* Node;         // none when the chunk is skipped
    };
    std::function<void(const TChunkEvent&)> OnChunk;

    TgrTreePtr Root;
    TgrTreePtr Others;
    TgrTreePtr TexMaps;
    TgrTreePtr Maps;
    TgrTreePtr Materials;
    TgrTreePtr Transforms;
    TgrTreePtr AnimTransforms;
    TgrTreePtr Lights;
    TgrTreePtr MaterialTree;

private:
    bool FMaterialsBuilt = false;
    TgrTreePtr FScene;
    // The transform that places the object with this Id: the first animated
    // transform it owns, else the first static one.
    TgrTreePtr FindTransform(std::int32_t ownerId) const;
    void AttachViewport(TgrTree& scene, const TgrTreePtr& viewport);
    void AttachPrimitive(TgrTree& parent, const TgrTreePtr& mesh, int depth);
    static TgrTree* FindViewport(TgrTree& node);
    void CheckMeshHierarchy();
    [[noreturn]] void Fail(std::int64_t offset, std::uint32_t typeKey, const std::string& what) const;

    std::vector<TgrLoaderClass> FClasses;
    std::vector<TAnim*> FAnims;
    std::string FSource = "memory";
    std::int64_t FAttachments = 0;
    const TgrTree* FViewportTransform = nullptr; // above the viewport the meshes hang from
    std::map<std::int32_t, std::vector<TgrTreePtr>> FMeshChildren; // meshes by ParentId, in file order
};

} // namespace vendrake
