#pragma once
// TgrTree: the base of every scene node. A node is also the ordered list of
// its children; list order is painting order.
//
// Ownership: child lists hold std::shared_ptr. The loader puts one node into
// several lists at once (a bucket, the scene tree, the material tree; a
// transform shared by every attachment of its owner; a mesh under the
// viewport and under its parent mesh), so a list shares its children rather
// than owning them outright. A node is freed exactly once, when the last list
// (or other holder) lets go of it. Trees must stay acyclic: a node that is
// its own descendant is never freed.
//
// Painting protocol: Action paints the node's own state change and then its
// children, and calls RestoreState when AutoRestore is on. RestoreState first
// restores the children whose AutoRestore is off, then undoes the node's own
// change. A node with AutoRestore off thus leaves its state in force for its
// later siblings until its parent restores.
#include "scene/node_class.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vendrake {

class TStream;
class TgrTree;
using TgrTreePtr = std::shared_ptr<TgrTree>;

// Raised when an operation a class does not implement is called on it.
class EAbstractError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TgrTree {
public:
    TgrTree();
    explicit TgrTree(void* context);
    TgrTree(const TgrTree&) = delete;
    TgrTree& operator=(const TgrTree&) = delete;
    virtual ~TgrTree();

    static const TNodeClass& ClassRef();

    // Virtual operations, in slot order.
    // Opens the file, reads this node's payload from it and closes it; a
    // missing file raises EFOpenError.
    virtual void LoadFromFile(const std::string& fileName, bool withHeader);
    // Reads the node's payload; with withHeader a 20-byte chunk header comes
    // first and is skipped. TgrTree itself has no payload: EAbstractError.
    virtual bool ReadFromStream(TStream& stream, bool withHeader);
    // Writes the node's save layout; nodes without one write nothing and
    // report false.
    virtual bool WriteToStream(TStream& stream, bool withHeader);
    // Appends child as the last child and returns it, for chaining. A null
    // child is not added.
    virtual TgrTreePtr AddChild(TgrTreePtr child);
    virtual void Action();
    virtual void RestoreState();
    virtual const TNodeClass& NodeClass() const { return ClassRef(); }

    int Count() const { return static_cast<int>(FItems.size()); }
    // The child at index, or an empty pointer outside 0..Count-1.
    const TgrTreePtr& GetChild(int index) const
    {
        return index >= 0 && index < Count() ? FItems[static_cast<std::size_t>(index)] : NoNode;
    }
    const std::vector<TgrTreePtr>& Children() const { return FItems; }
    // Removes the child at index; the rest close up. Out of range does nothing.
    void Delete(int index);
    // Removes the first occurrence of child; false when it is not a child.
    bool Remove(const TgrTree* child);

    bool Is(const TNodeClass& nodeClass) const { return NodeClass().InheritsFrom(nodeClass); }
    template <class T> bool Is() const { return Is(T::ClassRef()); }

    // Finds the first descendant, depth-first in child order, that is of
    // nodeClass and named name; detaches it from its parent and returns it
    // with its own children. The node itself is never a candidate.
    TgrTreePtr ExtractByName(const std::string& name, const TNodeClass& nodeClass);
    // Wraps the first matching descendant C (same search as ExtractByName):
    // C moves under newNode, and newNode becomes the last child of C's former
    // parent. Nothing happens when no descendant matches.
    void InsertAbove(TgrTreePtr newNode, const std::string& name, const TNodeClass& nodeClass);

    // Typed AddChild for callers that keep using the child.
    template <class T> std::shared_ptr<T> Add(std::shared_ptr<T> child)
    {
        AddChild(child);
        return child;
    }

    void SetAutoRestore(bool value) { AutoRestore = value; }
    void SetId(std::int32_t value) { Id = value; }
    void SetContext(void* value) { Context = value; }

    // Reads the common node header that mesh, material, texture-map, camera and
    // light payloads begin with: Id, ParentId, Reserved, name length N and N
    // name bytes. A zero byte ends the name early; all N bytes are consumed.
    // A negative N, or one larger than the rest of the stream, raises the
    // stream's read error before anything is allocated.
    void ReadNodeHeader(TStream& stream);

    std::string Name;
    void* Context = nullptr; // handed on to sub-nodes; never interpreted
    bool AutoRestore = true;
    std::int32_t Id = 0;
    std::int32_t Reserved = 0;
    std::int32_t ParentId = 0;

protected:
    // Skips the 20-byte chunk header in front of a payload read "with header".
    static void SkipChunkHeader(TStream& stream);

private:
    std::vector<TgrTreePtr> FItems;
    static const TgrTreePtr NoNode;
};

} // namespace vendrake
