#pragma once
// Reads a video file back with FFmpeg's decoders, as a player would: the
// streams' codecs, every picture (kept as RGB for the frames asked for) and
// the whole sound as interleaved floats, each with its start time; and the
// MP3 a soundtrack came from, to set the sound against.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace vendrake::test {

struct TDecodedVideo {
    std::string VideoCodec; // "h264", "vp9"
    std::string AudioCodec; // "aac", "opus"; empty without sound
    int Width = 0;
    int Height = 0;
    int Frames = 0;
    double VideoStart = 0; // seconds, the first picture's time
    // RGB rows top first, for each frame index asked for.
    std::vector<std::vector<std::uint8_t>> Kept;
    int AudioRate = 0;
    int AudioChannels = 0;
    double AudioStart = 0; // seconds, the first sample's time
    std::vector<float> Audio;

    double AudioSeconds() const
    {
        return AudioRate && AudioChannels ? double(Audio.size()) / AudioChannels / AudioRate : 0;
    }
};

// Fails the test (and returns what it has) when the file cannot be read.
TDecodedVideo DecodeVideo(const std::string& fileName, const std::set<int>& keep = {});

// Where the video's sound sits against `reference` (interleaved, at its
// own rate, starting with the video's first picture): the shift in seconds,
// within +-0.05 s, at which the two correlate best, 0 when the sound is
// exactly in place. Compares the first `seconds` of the video's sound.
double SoundLag(const TDecodedVideo& video, const std::vector<float>& reference, int referenceRate,
                int referenceChannels, double seconds = 0.5);

// An MP3 decoded whole with libmpg123 as a player hears it: interleaved
// stereo floats at 44100 Hz (the rate and layout of the test files).
std::vector<float> DecodeStereoMp3(const std::string& fileName);

// Peak signal-to-noise ratio of two RGB pictures of one size, in dB.
double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

} // namespace vendrake::test
