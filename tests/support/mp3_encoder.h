#pragma once
// MP3 files made on the fly with LAME, for the tests that play music.
// Include it only where the test links PkgConfig::LAME.
#include <gtest/gtest.h>
#include <lame/lame.h>

#include <algorithm>
#include <vector>

namespace vendrake::test {

// Encodes the samples (every channel alike) at a constant bit rate. With the
// info tag, decoders trim the encoder's delay and padding, so the decoded
// length is the signal's length exactly and sample i plays at i / rate.
inline std::vector<unsigned char> EncodeMp3(const std::vector<short>& signal, int rate, int channels, int kbps,
                                            bool infoTag)
{
    lame_t lame = lame_init();
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, rate);
    lame_set_num_channels(lame, channels);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(lame, kbps);
    lame_set_quality(lame, 7);
    lame_set_bWriteVbrTag(lame, infoTag ? 1 : 0);
    EXPECT_EQ(lame_init_params(lame), 0);

    const int frames = static_cast<int>(signal.size());
    std::vector<unsigned char> mp3(static_cast<std::size_t>(frames) * 5 / 4 + 7200);
    int size = lame_encode_buffer(lame, signal.data(), signal.data(), frames, mp3.data(), static_cast<int>(mp3.size()));
    EXPECT_GE(size, 0);
    size += lame_encode_flush(lame, mp3.data() + size, static_cast<int>(mp3.size()) - size);
    mp3.resize(static_cast<std::size_t>(size));
    if (infoTag) {
        // The tag's final contents are known only now; it overwrites the
        // placeholder frame at the start.
        std::vector<unsigned char> tag(4096);
        const std::size_t tagSize = lame_get_lametag_frame(lame, tag.data(), tag.size());
        EXPECT_GT(tagSize, 0U);
        std::copy_n(tag.begin(), tagSize, mp3.begin());
    }
    lame_close(lame);
    return mp3;
}

} // namespace vendrake::test
