#include "tests/support/video_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <gtest/gtest.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace vendrake::test {

namespace {

struct TInput {
    AVFormatContext* Format = nullptr;
    ~TInput() { avformat_close_input(&Format); }
};
struct TCodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct TFrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct TPacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct TSwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct TSwrFree {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
using TCodec = std::unique_ptr<AVCodecContext, TCodecFree>;

TCodec OpenDecoder(const AVStream& stream)
{
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    TCodec context(avcodec_alloc_context3(codec));
    if (!codec || !context || avcodec_parameters_to_context(context.get(), stream.codecpar) < 0 ||
        avcodec_open2(context.get(), codec, nullptr) < 0)
        return nullptr;
    context->pkt_timebase = stream.time_base;
    return context;
}

double Seconds(std::int64_t pts, AVRational base) { return pts == AV_NOPTS_VALUE ? 0 : pts * av_q2d(base); }

} // namespace

TDecodedVideo DecodeVideo(const std::string& fileName, const std::set<int>& keep)
{
    TDecodedVideo out;
    TInput input;
    if (avformat_open_input(&input.Format, fileName.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(input.Format, nullptr) < 0) {
        ADD_FAILURE() << "cannot read " << fileName;
        return out;
    }
    const int videoIndex = av_find_best_stream(input.Format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audioIndex = av_find_best_stream(input.Format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (videoIndex < 0) {
        ADD_FAILURE() << fileName << " has no video stream";
        return out;
    }
    AVStream* videoStream = input.Format->streams[videoIndex];
    TCodec video = OpenDecoder(*videoStream);
    out.VideoCodec = avcodec_get_name(videoStream->codecpar->codec_id);
    TCodec audio;
    AVStream* audioStream = audioIndex >= 0 ? input.Format->streams[audioIndex] : nullptr;
    if (audioStream) {
        audio = OpenDecoder(*audioStream);
        out.AudioCodec = avcodec_get_name(audioStream->codecpar->codec_id);
    }
    if (!video || (audioStream && !audio)) {
        ADD_FAILURE() << "no decoder for a stream of " << fileName;
        return out;
    }

    std::unique_ptr<AVFrame, TFrameFree> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, TPacketFree> packet(av_packet_alloc());
    std::unique_ptr<SwsContext, TSwsFree> toRgb;
    std::unique_ptr<SwrContext, TSwrFree> toFloat;
    bool firstSound = true;

    const auto takePicture = [&] {
        if (out.Frames == 0) {
            out.Width = frame->width;
            out.Height = frame->height;
            out.VideoStart = Seconds(frame->best_effort_timestamp, videoStream->time_base);
        }
        if (keep.count(out.Frames)) {
            if (!toRgb) {
                toRgb.reset(sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                           frame->height, AV_PIX_FMT_RGB24, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr,
                                           nullptr, nullptr));
                const int space = frame->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601;
                sws_setColorspaceDetails(toRgb.get(), sws_getCoefficients(space),
                                         frame->color_range == AVCOL_RANGE_JPEG, sws_getCoefficients(SWS_CS_ITU709),
                                         1, 0, 1 << 16, 1 << 16);
            }
            std::vector<std::uint8_t> rgb(std::size_t(frame->width) * frame->height * 3);
            std::uint8_t* rows[1] = {rgb.data()};
            const int strides[1] = {frame->width * 3};
            sws_scale(toRgb.get(), frame->data, frame->linesize, 0, frame->height, rows, strides);
            out.Kept.push_back(std::move(rgb));
        }
        ++out.Frames;
    };
    const auto takeSound = [&] {
        if (firstSound) {
            firstSound = false;
            out.AudioRate = frame->sample_rate;
            out.AudioChannels = frame->ch_layout.nb_channels;
            out.AudioStart = Seconds(frame->best_effort_timestamp, audioStream->time_base);
            SwrContext* swr = nullptr;
            swr_alloc_set_opts2(&swr, &frame->ch_layout, AV_SAMPLE_FMT_FLT, frame->sample_rate, &frame->ch_layout,
                                AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
            toFloat.reset(swr);
            swr_init(swr);
        }
        const std::size_t at = out.Audio.size();
        out.Audio.resize(at + std::size_t(frame->nb_samples) * out.AudioChannels);
        std::uint8_t* planes[1] = {reinterpret_cast<std::uint8_t*>(out.Audio.data() + at)};
        const int got = swr_convert(toFloat.get(), planes, frame->nb_samples,
                                    const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
        out.Audio.resize(at + std::size_t(std::max(got, 0)) * out.AudioChannels);
    };
    const auto drain = [&](AVCodecContext* codec, bool isVideo) {
        while (avcodec_receive_frame(codec, frame.get()) >= 0) {
            if (isVideo)
                takePicture();
            else
                takeSound();
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(input.Format, packet.get()) >= 0) {
        if (packet->stream_index == videoIndex) {
            avcodec_send_packet(video.get(), packet.get());
            drain(video.get(), true);
        } else if (packet->stream_index == audioIndex) {
            avcodec_send_packet(audio.get(), packet.get());
            drain(audio.get(), false);
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(video.get(), nullptr);
    drain(video.get(), true);
    if (audio) {
        avcodec_send_packet(audio.get(), nullptr);
        drain(audio.get(), false);
    }
    return out;
}

double SoundLag(const TDecodedVideo& video, const std::vector<float>& reference, int referenceRate,
                int referenceChannels, double seconds)
{
    const auto mono = [](const std::vector<float>& samples, int channels) {
        std::vector<double> out(samples.size() / std::size_t(std::max(channels, 1)));
        for (std::size_t i = 0; i < out.size(); ++i)
            for (int c = 0; c < channels; ++c)
                out[i] += samples[i * std::size_t(channels) + std::size_t(c)];
        return out;
    };
    const std::vector<double> sound = mono(video.Audio, video.AudioChannels);
    const std::vector<double> wanted = mono(reference, referenceChannels);
    if (video.AudioRate <= 0 || referenceRate <= 0)
        return 1e9;
    // The reference at any time (seconds from the first picture), linearly
    // between its samples, silent outside them.
    const auto at = [&](double t) {
        const double x = t * referenceRate;
        const auto i = static_cast<std::int64_t>(std::floor(x));
        if (i < 0 || i + 1 >= static_cast<std::int64_t>(wanted.size()))
            return 0.0;
        const double f = x - double(i);
        return wanted[std::size_t(i)] * (1 - f) + wanted[std::size_t(i) + 1] * f;
    };
    const double offset = video.AudioStart - video.VideoStart;
    const std::size_t count = std::min(sound.size(), std::size_t(seconds * video.AudioRate));
    double bestScore = -1e300, bestShift = 0;
    const int reach = video.AudioRate / 20;
    for (int step = -reach; step <= reach; ++step) {
        const double shift = double(step) / video.AudioRate;
        double score = 0;
        for (std::size_t i = 0; i < count; ++i)
            score += sound[i] * at(offset + double(i) / video.AudioRate + shift);
        if (score > bestScore) {
            bestScore = score;
            bestShift = shift;
        }
    }
    return bestShift;
}

std::vector<float> DecodeStereoMp3(const std::string& fileName)
{
    mpg123_init();
    int error = 0;
    std::unique_ptr<mpg123_handle, void (*)(mpg123_handle*)> handle(mpg123_new(nullptr, &error), mpg123_delete);
    std::vector<float> samples;
    if (!handle || (mpg123_param(handle.get(), MPG123_FLAGS, MPG123_GAPLESS | MPG123_FORCE_FLOAT, 0),
                    mpg123_format_none(handle.get()),
                    mpg123_format(handle.get(), 44100, MPG123_STEREO, MPG123_ENC_FLOAT_32),
                    mpg123_open(handle.get(), fileName.c_str())) != MPG123_OK) {
        ADD_FAILURE() << "cannot decode " << fileName;
        return samples;
    }
    std::vector<float> buffer(8192);
    int code = MPG123_OK;
    do {
        std::size_t bytes = 0;
        code = mpg123_read(handle.get(), buffer.data(), buffer.size() * sizeof(float), &bytes);
        samples.insert(samples.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(bytes / sizeof(float)));
    } while (code == MPG123_OK || code == MPG123_NEW_FORMAT);
    mpg123_close(handle.get());
    return samples;
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    if (a.size() != b.size() || a.empty())
        return 0;
    double squares = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        squares += d * d;
    }
    const double mse = squares / double(a.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

} // namespace vendrake::test
