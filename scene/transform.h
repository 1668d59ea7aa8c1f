#pragma once
// Transform nodes: they change the model-view matrix while their subtree is
// painted, pushing it before and popping it in their restore step.
#include "math/matrix.h"
#include "math/quaternion.h"
#include "math/vector.h"
#include "scene/tree.h"

#include <cstdint>

namespace vendrake {

// Anything with a position: meshes, lights, transforms.
class TgrPositional : public TgrTree {
    VENDRAKE_NODE_CLASS(TgrPositional, TgrTree)
public:
    using TgrTree::TgrTree;
    // Captures the model-view matrix when asked to, then paints the children.
    void Action() override;

    TMatrix4 WorldMatrix;
    bool CaptureMatrix = false;
};

class TgrMatrixEdit : public TgrPositional {
    VENDRAKE_NODE_CLASS(TgrMatrixEdit, TgrPositional)
public:
    using TgrPositional::TgrPositional;
    // Push, apply, then paint.
    void Action() override;
    // Deferred restores of the children, then pop.
    void RestoreState() override;
    // The matrix change; subclasses put theirs here.
    virtual void ApplyTransform() {}

    void SetPushMatrix(bool value) { PushMatrix = value; }

    bool PushMatrix = true;
};

// A fixed position and rotation from the scene file.
class TgrPRS : public TgrMatrixEdit {
    VENDRAKE_NODE_CLASS(TgrPRS, TgrMatrixEdit)
public:
    using TgrMatrixEdit::TgrMatrixEdit;

    // 44 bytes: OwnerId, position x y z, rotation x y z w, three ignored floats.
    bool ReadFromStream(TStream& stream, bool withHeader) override;
    void ApplyTransform() override;
    // Replaces Matrix by its inverse (for camera transforms); a singular
    // matrix stays as it is.
    void InvertMatrix();

    std::int32_t OwnerId = 0;
    TVector3 Position;
    TQuat Rotation;
    TMatrix4 Matrix = TMatrix::Identity();
};

} // namespace vendrake
