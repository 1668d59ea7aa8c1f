#pragma once
// The demo's music, synthesised in code and encoded as MP3: a tune in A
// minor at 120 beats a minute (see timeline.h) with pads, an arpeggio, bass,
// a lead melody and drums, arranged in six parts that follow the picture.
#include <cstdint>
#include <vector>

namespace vendrake::demo {

constexpr const char* MusicFileName = "vendrake.mp3";
constexpr int SampleRate = 44100;
constexpr int Mp3KilobitsPerSecond = 160;

// MusicSeconds of interleaved stereo samples (left, right) at SampleRate,
// peaking just below full scale.
std::vector<float> SynthesizeSoundtrack();

// MPEG-1 layer III at a constant Mp3KilobitsPerSecond, joint stereo, with an
// information frame that tells decoders the encoder's delay and padding, so
// the decoded length is the length given.
std::vector<std::uint8_t> EncodeMp3(const std::vector<float>& stereo);

} // namespace vendrake::demo
