#include "app/plane_setup.h"

#include "anim/anim_prs.h"
#include "render/mesh.h"
#include "scene/gl_entry_points.h"

#include <memory>

namespace vendrake {

const std::array<std::string, 7> PlaneNames = {"Plane06", "Plane05", "Plane04", "Plane01",
                                               "Plane07", "Plane03", "Plane08"};

namespace {

// The parent ExtractByName will take the node from: the same depth-first
// search in child order.
TgrTree* ParentOfFirst(TgrTree& node, const std::string& name, const TNodeClass& nodeClass)
{
    for (const TgrTreePtr& child : node.Children()) {
        if (child->Is(nodeClass) && child->Name == name)
            return &node;
        if (TgrTree* parent = ParentOfFirst(*child, name, nodeClass))
            return parent;
    }
    return nullptr;
}

// Whether node is subtree or hangs somewhere below it. Loaded scenes share
// nodes between child lists, so a node detached from one place may still sit
// above another.
bool Holds(const TgrTree& subtree, const TgrTree* node)
{
    if (&subtree == node)
        return true;
    for (const TgrTreePtr& child : subtree.Children())
        if (Holds(*child, node))
            return true;
    return false;
}

} // namespace

void SetUpPlanes(TgrTree& root, const TgrCallback::THook& before, const TgrCallback::THook& after)
{
    const TNodeClass& transformClass = TgrAnimPRS::ClassRef();
    std::array<TgrTreePtr, PlaneNames.size()> transforms;
    std::array<TgrTree*, PlaneNames.size()> formerParents{};
    for (std::size_t i = 0; i < PlaneNames.size(); ++i) {
        formerParents[i] = ParentOfFirst(root, PlaneNames[i], transformClass);
        transforms[i] = root.ExtractByName(PlaneNames[i], transformClass);
    }

    // The transforms go last under the root's first grandchild, in table
    // order. Where there is no such node, or the transform holds it (which
    // would make the tree a cycle), the transform goes back to the parent it
    // came from rather than being lost.
    TgrTree* target = nullptr;
    if (const TgrTreePtr& child = root.GetChild(0))
        target = child->GetChild(0).get();
    for (std::size_t i = 0; i < transforms.size(); ++i) {
        if (!transforms[i])
            continue;
        if (target && !Holds(*transforms[i], target))
            target->AddChild(transforms[i]);
        else if (formerParents[i])
            formerParents[i]->AddChild(transforms[i]);
    }

    // Wrapping the blend first and the callback second leaves the chain
    // blend -> callback -> mesh, since the second search finds the mesh
    // under the blend.
    const TNodeClass& meshClass = TgrPrimitive::ClassRef();
    for (const std::string& name : PlaneNames) {
        auto blend = std::make_shared<TgrBlend>();
        blend->SourceFactor = GL_ONE;
        blend->DestFactor = GL_ONE;
        root.InsertAbove(blend, name, meshClass);
    }
    for (const std::string& name : PlaneNames) {
        auto callback = std::make_shared<TgrCallback>();
        callback->SetOnBefore(before);
        callback->SetOnAfter(after);
        root.InsertAbove(callback, name, meshClass);
    }
}

void DisableDepthTest()
{
    gl.glDisable(GL_DEPTH_TEST);
}

} // namespace vendrake
