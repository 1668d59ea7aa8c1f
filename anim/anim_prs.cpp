#include "anim/anim_prs.h"

#include "stream/stream.h"
#include "scene/gl_entry_points.h"

#include <array>
#include <string>

namespace vendrake {

namespace {

constexpr int MaxRecordFloats = 10;

std::unique_ptr<TAnim> NewTrack(int channels, std::uint8_t interpolation)
{
    auto track = std::make_unique<TAnim>();
    track->SetChannelCount(channels);
    track->AutoTangents = true;
    track->Interpolation = interpolation;
    return track;
}

} // namespace

bool TgrAnimPRS::ReadFromStream(TStream& stream, bool withHeader)
{
    if (withHeader)
        SkipChunkHeader(stream);
    Id = stream.ReadInt32();
    OwnerId = stream.ReadInt32();
    const std::int32_t kind = stream.ReadInt32();
    const std::int32_t format = stream.ReadInt32();
    const std::int64_t floatsAt = stream.Position();
    const std::int32_t floats = stream.ReadInt32();
    if (format != 1)
        return true; // no tracks: an identity transform
    const std::int64_t countAt = stream.Position();
    const std::int32_t count = stream.ReadInt32();
    const std::int32_t step = stream.ReadInt32();
    if (kind != PositionOnly && kind != PositionAndRotation)
        return true; // the records stay unread

    const int minFloats = kind == PositionOnly ? 3 : 7;
    if (floats < minFloats || floats > MaxRecordFloats)
        stream.RaiseReadError(floatsAt, "key records of " + std::to_string(floats) +
                                            " floats for track kind " + std::to_string(kind) +
                                            " (expected " + std::to_string(minFloats) + " to 10)");
    if (count < 0)
        stream.RaiseReadError(countAt, "negative key count " + std::to_string(count));
    const std::int64_t bytes = std::int64_t(count) * floats * 4;
    if (bytes > stream.Remaining())
        stream.RaiseReadError(countAt, std::to_string(count) + " keys of " + std::to_string(floats) +
                                           " floats need " + std::to_string(bytes) + " bytes, " +
                                           std::to_string(std::max<std::int64_t>(stream.Remaining(), 0)) +
                                           " remain");

    const auto recordBytes = static_cast<std::size_t>(floats) * 4;
    std::array<float, MaxRecordFloats> r{};
    if (kind == PositionOnly) {
        PositionTrack = NewTrack(3, TAnim::Linear);
        for (std::int32_t k = 0; k < count; ++k) {
            stream.ReadBuffer(r.data(), recordBytes);
            TAnimKey* key = PositionTrack->Keys.AddKey();
            key->Time = static_cast<float>(std::int64_t(k) * step);
            for (int c = 0; c < 3; ++c)
                key->Values[c].Value = r[static_cast<std::size_t>(c)];
        }
        return true;
    }

    PositionTrack = NewTrack(3, TAnim::KochanekBartels);
    RotationTrack = NewTrack(4, TAnim::Slerp);
    float sign = 1.0f;
    TQuat previous;
    for (std::int32_t k = 0; k < count; ++k) {
        stream.ReadBuffer(r.data(), recordBytes);
        const float time = static_cast<float>(std::int64_t(k) * step);
        TAnimKey* p = PositionTrack->Keys.AddKey();
        p->Time = time;
        for (int c = 0; c < 3; ++c)
            p->Values[c].Value = r[static_cast<std::size_t>(c)];
        p->Tension = p->Continuity = p->Bias = 0;

        TAnimKey* q = RotationTrack->Keys.AddKey();
        q->Time = time;
        TQuat rotation = TQuaternion::Make(r[6], r[3], r[4], r[5]);
        rotation = TQuaternion::FromAxisAngle(TQuaternion::ToAxisAngle(rotation));
        if (k > 0 && TQuaternion::Dot(rotation, previous) < 0)
            sign = -sign;
        previous = rotation;
        q->Values[0].Value = rotation.x * sign;
        q->Values[1].Value = rotation.y * sign;
        q->Values[2].Value = rotation.z * sign;
        q->Values[3].Value = rotation.w * sign;
    }
    return true;
}

TMatrix4 TgrAnimPRS::CurrentMatrix() const
{
    TMatrix4 m = TMatrix::Identity();
    if (RotationTrack && RotationTrack->Values.Count() >= 4) {
        const TAnimValueArray& v = RotationTrack->Values;
        m = QuaternionToMatrix(static_cast<float>(v[0].Value), static_cast<float>(v[1].Value),
                               static_cast<float>(v[2].Value), static_cast<float>(v[3].Value));
    }
    if (PositionTrack && PositionTrack->Values.Count() >= 3) {
        const TAnimValueArray& v = PositionTrack->Values;
        m[12] = static_cast<float>(v[0].Value);
        m[13] = static_cast<float>(v[1].Value);
        m[14] = static_cast<float>(v[2].Value);
    }
    if (Inverted)
        TMatrix::Invert(m, m);
    return m;
}

void TgrAnimPRS::ApplyTransform()
{
    const TMatrix4 m = CurrentMatrix();
    gl.glMultMatrixf(m.data());
}

} // namespace vendrake
