#pragma once
// TgrAnimPRS: a transform whose position and rotation follow animation
// tracks. The scene player evaluates the tracks once per frame; the node only
// turns their current values into a matrix.
#include "anim/track.h"
#include "scene/transform.h"

#include <cstdint>
#include <memory>

namespace vendrake {

class TgrAnimPRS : public TgrMatrixEdit {
    VENDRAKE_NODE_CLASS(TgrAnimPRS, TgrMatrixEdit)
public:
    TgrAnimPRS() = default;

    // Id, OwnerId, track kind (2: position; 4: position and rotation), key
    // format (1), floats per record F, then with format 1 the key count K,
    // the time step S and K records. Rotations are normalised and kept in one
    // hemisphere from key to key so the interpolation takes the short way.
    // Record shapes that cannot hold their keys are rejected with the stream's
    // read error before anything is allocated.
    bool ReadFromStream(TStream& stream, bool withHeader) override;
    // Rotation, then position as translation, inverted for cameras.
    void ApplyTransform() override;

    // The matrix ApplyTransform multiplies, from the tracks' current values.
    TMatrix4 CurrentMatrix() const;

    std::unique_ptr<TAnim> PositionTrack;
    std::unique_ptr<TAnim> RotationTrack;
    std::int32_t OwnerId = 0;
    bool Inverted = false;

    static constexpr std::int32_t PositionOnly = 2;
    static constexpr std::int32_t PositionAndRotation = 4;
};

} // namespace vendrake
