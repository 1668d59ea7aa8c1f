#pragma once
// Control nodes change how their subtree is painted without drawing anything.
#include "scene/tree.h"

#include <memory>

#include <cstdint>
#include <functional>

namespace vendrake {

// Colour blending with a pair of factors for its subtree; the whole
// colour-buffer attribute group is pushed before and popped in the restore.
class TgrBlend : public TgrTree {
    VENDRAKE_NODE_CLASS(TgrBlend, TgrTree)
public:
    using TgrTree::TgrTree;
    void Action() override;
    void RestoreState() override;

    std::int32_t SourceFactor = 1; // GL_ONE
    std::int32_t DestFactor = 1;   // GL_ONE
};

// Runs a hook before its subtree and another at the end of its restore step.
// Hooks run on the render thread with the context current.
class TgrCallback : public TgrTree {
    VENDRAKE_NODE_CLASS(TgrCallback, TgrTree)
public:
    using THook = std::function<void()>;
    using TgrTree::TgrTree;
    void Action() override;
    void RestoreState() override;

    void SetOnBefore(THook hook) { OnBefore = std::move(hook); }
    void SetOnAfter(THook hook) { OnAfter = std::move(hook); }
    // Binds a parameterless method of an object, which must outlive the node.
    template <class T> static THook Bind(T* object, void (T::*method)())
    {
        return [object, method] { (object->*method)(); };
    }

    THook OnBefore;
    THook OnAfter;
};

// Paints only the child at Selected.
class TgrChooser : public TgrTree {
    VENDRAKE_NODE_CLASS(TgrChooser, TgrTree)
public:
    using TgrTree::TgrTree;
    void Action() override;
    // Restores the child the last Action painted, if it waits for this.
    void RestoreState() override;

    std::int32_t Selected = 0;

private:
    std::weak_ptr<TgrTree> FPainted;
};

} // namespace vendrake
