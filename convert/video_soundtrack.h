#pragma once
// A span of an MP3 soundtrack, decoded with libmpg123 into float samples at
// the file's own rate and channel count: the sound that goes with a stretch
// of the picture.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct mpg123_handle_struct;

namespace vendrake {

class TSoundtrackSpan {
public:
    // Opens the file and places the span's start `from` seconds into it; the
    // span is `seconds` long. Throws std::runtime_error naming the file when
    // it cannot be opened or is no MP3.
    TSoundtrackSpan(const std::string& fileName, double from, double seconds);
    ~TSoundtrackSpan();
    TSoundtrackSpan(const TSoundtrackSpan&) = delete;
    TSoundtrackSpan& operator=(const TSoundtrackSpan&) = delete;

    long Rate() const { return FRate; }
    int Channels() const { return FChannels; }
    // Samples per channel in the whole span, and how many were read so far.
    std::int64_t Length() const { return FLength; }
    std::int64_t Position() const { return FPosition; }

    // Reads up to `count` more samples per channel, interleaved, into `out`
    // and returns how many; fewer only at the span's end. Past the end of
    // the music (or a part of it that cannot be decoded) the span is silent.
    std::size_t Read(float* out, std::size_t count);

private:
    std::unique_ptr<mpg123_handle_struct, void (*)(mpg123_handle_struct*)> FHandle;
    long FRate = 0;
    int FChannels = 0;
    std::int64_t FLength = 0;
    std::int64_t FPosition = 0;
    bool FMusicEnded = false;
};

} // namespace vendrake
