// The soundtrack as a player hears it: the MP3 decoded whole with libmpg123.
#include "tests/tools/demo_support.h"

#include "tools/demo/soundtrack.h"
#include "tools/demo/timeline.h"

#include <mpg123.h>

#include <cmath>
#include <memory>

namespace vendrake {
namespace {

struct TDecoded {
    long Rate = 0;
    int Channels = 0;
    int End = 0; // the last read's code
    std::vector<float> Samples; // interleaved
};

TDecoded DecodeMp3(const std::string& fileName)
{
    mpg123_init();
    int error = 0;
    std::unique_ptr<mpg123_handle, void (*)(mpg123_handle*)> handle(mpg123_new(nullptr, &error), mpg123_delete);
    EXPECT_TRUE(handle) << mpg123_plain_strerror(error);
    TDecoded out;
    if (!handle)
        return out;
    mpg123_param(handle.get(), MPG123_FLAGS, MPG123_GAPLESS | MPG123_FORCE_FLOAT, 0);
    mpg123_format_none(handle.get());
    mpg123_format(handle.get(), 44100, MPG123_STEREO | MPG123_MONO, MPG123_ENC_FLOAT_32);
    if (mpg123_open(handle.get(), fileName.c_str()) != MPG123_OK) {
        ADD_FAILURE() << "cannot open " << fileName;
        return out;
    }
    std::vector<unsigned char> buffer(1 << 16);
    int code;
    do {
        std::size_t done = 0;
        code = mpg123_read(handle.get(), buffer.data(), buffer.size(), &done);
        const auto* samples = reinterpret_cast<const float*>(buffer.data());
        out.Samples.insert(out.Samples.end(), samples, samples + done / sizeof(float));
    } while (code == MPG123_OK || code == MPG123_NEW_FORMAT);
    int encoding = 0;
    mpg123_getformat(handle.get(), &out.Rate, &out.Channels, &encoding);
    out.End = code;
    mpg123_close(handle.get());
    return out;
}

TEST(Soundtrack, DecodesWholeAtItsRateAndLength)
{
    static_assert(demo::MusicSeconds >= 60 && demo::MusicSeconds <= 120);
    test::TScratchFolder folder;
    const std::string file = folder / demo::MusicFileName;
    demo::WriteFileBytes(file, demo::EncodeMp3(demo::SynthesizeSoundtrack()));

    const TDecoded decoded = DecodeMp3(file);
    EXPECT_EQ(decoded.End, MPG123_DONE) << mpg123_plain_strerror(decoded.End);
    EXPECT_EQ(decoded.Rate, 44100);
    ASSERT_EQ(decoded.Channels, 2);
    // The information frame lets the decoder drop the encoder's delay and
    // padding: what comes out is as long as what went in.
    const auto frames = static_cast<long>(decoded.Samples.size() / 2);
    EXPECT_NEAR(double(frames), std::round(demo::MusicSeconds * 44100), 1.0);

    // Every part is heard, nothing clips, and the sides differ (stereo).
    double peak = 0, sideDifference = 0;
    for (std::size_t i = 0; i + 1 < decoded.Samples.size(); i += 2) {
        peak = std::max({peak, double(std::fabs(decoded.Samples[i])), double(std::fabs(decoded.Samples[i + 1]))});
        sideDifference += std::fabs(decoded.Samples[i] - decoded.Samples[i + 1]);
    }
    EXPECT_LT(peak, 1.0);
    EXPECT_GT(peak, 0.5);
    EXPECT_GT(sideDifference / double(frames), 0.005);
    for (int part = 0; part < demo::Bars / demo::BarsPerPart; ++part) {
        const double start = part * demo::BarsPerPart * demo::BarSeconds;
        const auto first = static_cast<std::size_t>(start * 44100);
        const auto count = static_cast<std::size_t>(demo::BarsPerPart * demo::BarSeconds * 44100);
        double sum = 0;
        for (std::size_t f = first; f < first + count && 2 * f + 1 < decoded.Samples.size(); ++f)
            sum += decoded.Samples[2 * f] * decoded.Samples[2 * f];
        EXPECT_GT(std::sqrt(sum / double(count)), 0.03) << "part " << part << " is nearly silent";
    }
}

} // namespace
} // namespace vendrake
