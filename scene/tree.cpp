#include "scene/tree.h"

#include "stream/chunk.h"
#include "stream/stream.h"

#include <algorithm>
#include <cstring>

namespace vendrake {

const TgrTreePtr TgrTree::NoNode;

TgrTree::TgrTree() = default;

TgrTree::TgrTree(void* context) : Context(context) {}

TgrTree::~TgrTree()
{
    // Children go first to last. Subtrees that nobody else holds are taken
    // apart here, iteratively, so a degenerate, very deep tree cannot exhaust
    // the stack through nested destructors.
    std::vector<TgrTreePtr> pending;
    for (auto it = FItems.rbegin(); it != FItems.rend(); ++it)
        pending.push_back(std::move(*it));
    FItems.clear();
    while (!pending.empty()) {
        TgrTreePtr node = std::move(pending.back());
        pending.pop_back();
        if (node && node.use_count() == 1) {
            for (auto it = node->FItems.rbegin(); it != node->FItems.rend(); ++it)
                pending.push_back(std::move(*it));
            node->FItems.clear();
        }
    }
}

const TNodeClass& TgrTree::ClassRef()
{
    static const TNodeClass ref("TgrTree", nullptr, &MakeNodeOf<TgrTree>);
    return ref;
}

void TgrTree::LoadFromFile(const std::string& fileName, bool withHeader)
{
    TFileStream stream(fileName, TFileMode::OpenRead);
    ReadFromStream(stream, withHeader);
}

bool TgrTree::ReadFromStream(TStream&, bool)
{
    throw EAbstractError(std::string("Abstract error: ") + std::string(NodeClass().Name()) +
                         " has no payload to read");
}

bool TgrTree::WriteToStream(TStream&, bool)
{
    return false;
}

TgrTreePtr TgrTree::AddChild(TgrTreePtr child)
{
    if (child)
        FItems.push_back(child);
    return child;
}

void TgrTree::Action()
{
    // The count is taken at entry; children appended while painting wait for
    // the next frame.
    const std::size_t n = FItems.size();
    for (std::size_t i = 0; i < n && i < FItems.size(); ++i)
        FItems[i]->Action();
    if (AutoRestore)
        RestoreState();
}

void TgrTree::RestoreState()
{
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (!FItems[i]->AutoRestore)
            FItems[i]->RestoreState();
}

void TgrTree::Delete(int index)
{
    if (index >= 0 && index < Count())
        FItems.erase(FItems.begin() + index);
}

bool TgrTree::Remove(const TgrTree* child)
{
    auto it = std::find_if(FItems.begin(), FItems.end(),
                           [child](const TgrTreePtr& c) { return c.get() == child; });
    if (it == FItems.end())
        return false;
    FItems.erase(it);
    return true;
}

TgrTreePtr TgrTree::ExtractByName(const std::string& name, const TNodeClass& nodeClass)
{
    for (std::size_t i = 0; i < FItems.size(); ++i) {
        TgrTreePtr child = FItems[i];
        if (child->Is(nodeClass) && child->Name == name) {
            FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(i));
            return child;
        }
        if (TgrTreePtr found = child->ExtractByName(name, nodeClass))
            return found;
    }
    return nullptr;
}

void TgrTree::InsertAbove(TgrTreePtr newNode, const std::string& name, const TNodeClass& nodeClass)
{
    // Returns true once the wrap has happened somewhere below `parent`.
    struct Walker {
        static bool Run(TgrTree& parent, const TgrTreePtr& newNode, const std::string& name,
                        const TNodeClass& nodeClass)
        {
            for (std::size_t i = 0; i < parent.FItems.size(); ++i) {
                TgrTreePtr child = parent.FItems[i];
                if (child->Is(nodeClass) && child->Name == name) {
                    newNode->AddChild(child);
                    parent.FItems.erase(parent.FItems.begin() + static_cast<std::ptrdiff_t>(i));
                    parent.AddChild(newNode);
                    return true;
                }
                if (Run(*child, newNode, name, nodeClass))
                    return true;
            }
            return false;
        }
    };
    if (newNode)
        Walker::Run(*this, newNode, name, nodeClass);
}

void TgrTree::ReadNodeHeader(TStream& stream)
{
    Id = stream.ReadInt32();
    ParentId = stream.ReadInt32();
    Reserved = stream.ReadInt32();
    const std::int64_t lengthAt = stream.Position();
    const std::int32_t n = stream.ReadInt32();
    if (n < 0 || n > stream.Remaining())
        stream.RaiseReadError(lengthAt, "node name length " + std::to_string(n) + " with " +
                                            std::to_string(std::max<std::int64_t>(stream.Remaining(), 0)) +
                                            " bytes left");
    std::string name(static_cast<std::size_t>(n), '\0');
    stream.ReadBuffer(name.data(), name.size());
    if (const auto zero = name.find('\0'); zero != std::string::npos)
        name.resize(zero);
    Name = std::move(name);
}

void TgrTree::SkipChunkHeader(TStream& stream)
{
    TChunkHeader::Read(stream);
}

} // namespace vendrake
