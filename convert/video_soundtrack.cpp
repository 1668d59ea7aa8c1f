#include "convert/video_soundtrack.h"

#include <mpg123.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <cstring>

namespace vendrake {

namespace {

void DeleteHandle(mpg123_handle* handle)
{
    if (handle) {
        mpg123_close(handle);
        mpg123_delete(handle);
    }
}

std::runtime_error ReadError(const std::string& fileName, const std::string& why)
{
    return std::runtime_error("cannot read soundtrack " + fileName + ": " + why);
}

} // namespace

TSoundtrackSpan::TSoundtrackSpan(const std::string& fileName, double from, double seconds)
    : FHandle(nullptr, DeleteHandle)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });
    int error = MPG123_OK;
    FHandle.reset(mpg123_new(nullptr, &error));
    if (!FHandle)
        throw ReadError(fileName, mpg123_plain_strerror(error));
    mpg123_handle* handle = FHandle.get();
    mpg123_param(handle, MPG123_FLAGS, MPG123_GAPLESS | MPG123_FORCE_FLOAT | MPG123_QUIET, 0);
    // Any rate and either channel count, as floats: the encoder's resampler
    // takes it from there.
    mpg123_format_none(handle);
    const long* rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; i < rateCount; ++i)
        mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);

    // Opened through a stdio stream of our own, so that a missing file says
    // why in the system's words.
    if (mpg123_open(handle, fileName.c_str()) != MPG123_OK) {
        std::FILE* probe = std::fopen(fileName.c_str(), "rb");
        if (!probe)
            throw ReadError(fileName, std::strerror(errno));
        std::fclose(probe);
        throw ReadError(fileName, mpg123_strerror(handle));
    }
    int encoding = 0;
    if (mpg123_getformat(handle, &FRate, &FChannels, &encoding) != MPG123_OK || FRate <= 0 ||
        FChannels < 1 || FChannels > 2)
        throw ReadError(fileName, "no MPEG audio found");
    // The first frame's format is kept for the whole file.
    mpg123_format_none(handle);
    mpg123_format(handle, FRate, FChannels, MPG123_ENC_FLOAT_32);

    FLength = std::llround(std::max(0.0, seconds) * double(FRate));
    const auto start = static_cast<off_t>(std::llround(std::max(0.0, from) * double(FRate)));
    if (start > 0 && mpg123_seek(handle, start, SEEK_SET) < 0)
        FMusicEnded = true; // starts after the music's end: silence
}

TSoundtrackSpan::~TSoundtrackSpan() = default;

std::size_t TSoundtrackSpan::Read(float* out, std::size_t count)
{
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), FLength - FPosition));
    const std::size_t channels = static_cast<std::size_t>(FChannels);
    std::size_t done = 0;
    int idle = 0; // reads that gave nothing: a stream that never advances ends
    while (done < wanted && !FMusicEnded) {
        std::size_t bytes = 0;
        const int code = mpg123_read(FHandle.get(), out + done * channels, (wanted - done) * channels * sizeof(float),
                                     &bytes);
        done += bytes / (channels * sizeof(float));
        idle = bytes == 0 ? idle + 1 : 0;
        if (idle > 64) {
            FMusicEnded = true;
        } else if (code == MPG123_NEW_FORMAT) {
            long rate = 0;
            int fileChannels = 0, encoding = 0;
            mpg123_getformat(FHandle.get(), &rate, &fileChannels, &encoding);
            if (rate != FRate || fileChannels != FChannels)
                FMusicEnded = true;
        } else if (code != MPG123_OK) {
            // The end, or damage the decoder cannot get past.
            FMusicEnded = true;
        }
    }
    std::fill(out + done * channels, out + wanted * channels, 0.0f);
    FPosition += static_cast<std::int64_t>(wanted);
    return wanted;
}

} // namespace vendrake
