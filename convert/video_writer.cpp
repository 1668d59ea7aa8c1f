#include "convert/video_writer.h"

#include "convert/video_soundtrack.h"
#include "convert/yuv420.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace vendrake {

namespace {

namespace fs = std::filesystem;

std::string AvError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

template <typename T, void (*Free)(T**)>
struct TAvFree {
    void operator()(T* p) const { Free(&p); }
};
using TCodecContext = std::unique_ptr<AVCodecContext, TAvFree<AVCodecContext, avcodec_free_context>>;
using TFrame = std::unique_ptr<AVFrame, TAvFree<AVFrame, av_frame_free>>;
using TPacket = std::unique_ptr<AVPacket, TAvFree<AVPacket, av_packet_free>>;
using TResampler = std::unique_ptr<SwrContext, TAvFree<SwrContext, swr_free>>;
struct TFifoFree {
    void operator()(AVAudioFifo* p) const { av_audio_fifo_free(p); }
};
struct TFormatFree {
    void operator()(AVFormatContext* p) const
    {
        if (p->pb)
            avio_closep(&p->pb);
        avformat_free_context(p);
    }
};

const AVCodec* Encoder(const char* name, const char* what, const char* container)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec)
        throw std::runtime_error(std::string("the installed FFmpeg libraries have no ") + what + " encoder (" +
                                 name + ") for " + container);
    return codec;
}

// Interleaved channel planes of converted samples, grown on demand.
class TSampleBuffer {
public:
    TSampleBuffer(int channels, AVSampleFormat format) : FChannels(channels), FFormat(format) {}
    ~TSampleBuffer() { Free(); }
    TSampleBuffer(const TSampleBuffer&) = delete;
    TSampleBuffer& operator=(const TSampleBuffer&) = delete;

    std::uint8_t** Reserve(int samples)
    {
        if (samples > FCapacity) {
            Free();
            if (av_samples_alloc_array_and_samples(&FData, nullptr, FChannels, samples, FFormat, 0) < 0)
                throw std::bad_alloc();
            FCapacity = samples;
        }
        return FData;
    }

private:
    void Free()
    {
        if (FData)
            av_freep(&FData[0]);
        av_freep(&FData);
        FCapacity = 0;
    }
    int FChannels;
    AVSampleFormat FFormat;
    std::uint8_t** FData = nullptr;
    int FCapacity = 0;
};

// Pictures as ConvertToYuv420 makes them.
constexpr AVPixelFormat PictureFormat = AV_PIX_FMT_YUV420P;
constexpr AVColorRange PictureRange = AVCOL_RANGE_MPEG;
constexpr AVColorSpace PictureSpace = AVCOL_SPC_BT709;

// Claims a name beside the final file that nobody else uses; created empty
// with the permissions a new file gets.
std::string CreateTemporaryFile(const fs::path& final)
{
    const fs::path folder = final.has_parent_path() ? final.parent_path() : fs::path(".");
    const std::string stem = "." + final.filename().string() + "." + std::to_string(::getpid());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = folder / (stem + (attempt ? "-" + std::to_string(attempt) : "") + ".part");
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return candidate.string();
        }
        if (errno != EEXIST)
            throw std::runtime_error("cannot write " + final.string() + ": " + std::strerror(errno));
    }
    throw std::runtime_error("cannot write " + final.string() + ": no free temporary name in " + folder.string());
}

} // namespace

TVideoContainer VideoContainerOf(const std::string& fileName)
{
    const std::string extension = Lower(fs::path(fileName).extension().string());
    if (extension == ".mp4")
        return TVideoContainer::Mp4;
    if (extension == ".mkv")
        return TVideoContainer::Matroska;
    if (extension == ".webm")
        return TVideoContainer::WebM;
    throw std::invalid_argument(fileName + ": unknown video type \"" + extension +
                                "\" (.mp4 or .mkv for H.264, .webm for VP9)");
}

struct TVideoWriter::TState {
    TVideoSettings Settings;
    TVideoContainer Container = TVideoContainer::Mp4;
    std::string Temporary;
    bool Finished = false;

    std::unique_ptr<AVFormatContext, TFormatFree> Format;
    AVStream* VideoStream = nullptr;
    AVStream* AudioStream = nullptr;
    TCodecContext Video;
    TCodecContext Audio;
    TResampler Resampler;
    std::unique_ptr<AVAudioFifo, TFifoFree> Fifo;
    std::unique_ptr<TSampleBuffer> Converted;
    TFrame Sound;
    TPacket Packet;
    std::unique_ptr<TSoundtrackSpan> Music;
    std::vector<float> Decoded;
    int Frames = 0;              // handed over by the caller
    int Encoded = 0;             // handed to the video encoder
    std::int64_t AudioSent = 0;  // samples handed to the audio encoder
    std::int64_t AudioTotal = 0; // the span's length at the encoder's rate

    // Frames are converted to YUV as they come, straight from the caller's
    // rows, which costs no more than copying them would, and encoded on a
    // thread of the writer's own, so that the caller paints the next frame
    // meanwhile; a few wait at most.
    static constexpr std::size_t QueueLength = 3;
    std::thread Worker;
    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<TFrame> Waiting;
    std::vector<TFrame> Spare;
    bool Closing = false; // no more frames come
    std::exception_ptr Failure;

    void Check(int code, const char* what) const
    {
        if (code < 0)
            throw std::runtime_error(std::string(what) + " " + Settings.FileName + ": " + AvError(code));
    }

    void OpenVideo();
    void OpenAudio();
    void Encode(AVCodecContext& codec, AVStream& stream, AVFrame* frame);
    void ConvertSound(const std::uint8_t** input, int samples);
    void EncodeSound(bool toTheEnd);
    void PumpSound(double untilSeconds);
    TFrame NewPicture() const;
    void EncodePicture(AVFrame& picture);
    void Work();
    void StopWorker(bool dropWaiting);
};

void TVideoWriter::TState::OpenVideo()
{
    const bool vp9 = Container == TVideoContainer::WebM;
    const AVCodec* codec = vp9 ? Encoder("libvpx-vp9", "VP9", ".webm") : Encoder("libx264", "H.264", ".mp4 and .mkv");
    VideoStream = avformat_new_stream(Format.get(), nullptr);
    Video.reset(avcodec_alloc_context3(codec));
    if (!VideoStream || !Video)
        throw std::bad_alloc();
    const AVRational rate = av_d2q(Settings.Fps, 1000000);
    Video->width = Settings.Width;
    Video->height = Settings.Height;
    Video->pix_fmt = PictureFormat;
    Video->time_base = av_inv_q(rate);
    Video->framerate = rate;
    Video->sample_aspect_ratio = AVRational{1, 1};
    Video->color_range = PictureRange;
    Video->colorspace = PictureSpace;
    Video->color_primaries = AVCOL_PRI_BT709;
    Video->color_trc = AVCOL_TRC_BT709;
    if (Format->oformat->flags & AVFMT_GLOBALHEADER)
        Video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (vp9) {
        // Constant quality: no bit rate, the CRF alone; the fast real-time
        // settings, spread over rows, keep encoding well behind painting.
        Video->bit_rate = 0;
        av_opt_set_int(Video->priv_data, "crf", Settings.Crf, 0);
        av_opt_set(Video->priv_data, "deadline", "realtime", 0);
        av_opt_set_int(Video->priv_data, "cpu-used", 8, 0);
        av_opt_set_int(Video->priv_data, "row-mt", 1, 0);
    } else {
        // The CRF sets the quality; the preset and the cheapest motion
        // search keep the encoder to a fifth of what painting a software-GL
        // frame costs. Rendered scenes move smoothly, so the frame types
        // are fixed, four B-frames to a P-frame, with no search for scene
        // cuts: that takes a sixth off x264's time and makes the files a
        // little smaller at the same quality (a cut costs a frame of intra
        // blocks instead of a key frame).
        av_opt_set_double(Video->priv_data, "crf", Settings.Crf, 0);
        av_opt_set(Video->priv_data, "preset", "veryfast", 0);
        av_opt_set(Video->priv_data, "x264-params",
                   "me=dia:weightp=0:partitions=none:bframes=4:b-adapt=0:scenecut=0", 0);
        // x264's frame threads cost up to a fifth more processor time than
        // one thread. On two cores, which software GL keeps busy painting,
        // that time comes out of the painting, and one thread, at over 150
        // frames a second, keeps up with what they paint.
        if (std::thread::hardware_concurrency() <= 2)
            Video->thread_count = 1;
    }
    Check(avcodec_open2(Video.get(), codec, nullptr), "cannot start the video encoder for");
    Check(avcodec_parameters_from_context(VideoStream->codecpar, Video.get()), "cannot set up");
    VideoStream->time_base = Video->time_base;
    VideoStream->avg_frame_rate = rate;
}

void TVideoWriter::TState::OpenAudio()
{
    const bool opus = Container == TVideoContainer::WebM;
    const AVCodec* codec = opus ? Encoder("libopus", "Opus", ".webm") : Encoder("aac", "AAC", ".mp4 and .mkv");
    AudioStream = avformat_new_stream(Format.get(), nullptr);
    Audio.reset(avcodec_alloc_context3(codec));
    if (!AudioStream || !Audio)
        throw std::bad_alloc();
    // Opus runs at 48 kHz; AAC keeps the music's rate when it can.
    int rate = 48000;
    if (!opus && codec->supported_samplerates) {
        for (const int* r = codec->supported_samplerates; *r; ++r)
            if (*r == Music->Rate())
                rate = *r;
    } else if (!opus) {
        rate = static_cast<int>(Music->Rate());
    }
    AVSampleFormat format = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    for (const AVSampleFormat* f = codec->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == AV_SAMPLE_FMT_FLTP || *f == AV_SAMPLE_FMT_FLT)
            format = *f;
    Audio->sample_fmt = format;
    Audio->sample_rate = rate;
    av_channel_layout_default(&Audio->ch_layout, Music->Channels());
    Audio->bit_rate = Music->Channels() == 1 ? 96000 : 192000;
    Audio->time_base = AVRational{1, rate};
    if (Format->oformat->flags & AVFMT_GLOBALHEADER)
        Audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(avcodec_open2(Audio.get(), codec, nullptr), "cannot start the audio encoder for");
    Check(avcodec_parameters_from_context(AudioStream->codecpar, Audio.get()), "cannot set up");
    AudioStream->time_base = Audio->time_base;

    AVChannelLayout source{};
    av_channel_layout_default(&source, Music->Channels());
    SwrContext* resampler = nullptr;
    const int made = swr_alloc_set_opts2(&resampler, &Audio->ch_layout, format, rate, &source, AV_SAMPLE_FMT_FLT,
                                         static_cast<int>(Music->Rate()), 0, nullptr);
    av_channel_layout_uninit(&source);
    Resampler.reset(resampler);
    Check(made, "cannot resample the sound for");
    Check(swr_init(Resampler.get()), "cannot resample the sound for");

    Fifo.reset(av_audio_fifo_alloc(format, Music->Channels(), std::max(Audio->frame_size, 1024) * 4));
    Converted = std::make_unique<TSampleBuffer>(Music->Channels(), format);
    Sound.reset(av_frame_alloc());
    if (!Fifo || !Sound)
        throw std::bad_alloc();
    Sound->format = format;
    Sound->sample_rate = rate;
    Sound->nb_samples = Audio->frame_size > 0 ? Audio->frame_size : 1024;
    Check(av_channel_layout_copy(&Sound->ch_layout, &Audio->ch_layout), "cannot set up");
    Check(av_frame_get_buffer(Sound.get(), 0), "cannot make sound frames for");
    AudioTotal = std::llround(Settings.Seconds * rate);
}

void TVideoWriter::TState::Encode(AVCodecContext& codec, AVStream& stream, AVFrame* frame)
{
    Check(avcodec_send_frame(&codec, frame), "cannot encode");
    for (;;) {
        const int got = avcodec_receive_packet(&codec, Packet.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            return;
        Check(got, "cannot encode");
        av_packet_rescale_ts(Packet.get(), codec.time_base, stream.time_base);
        Packet->stream_index = stream.index;
        Check(av_interleaved_write_frame(Format.get(), Packet.get()), "cannot write");
    }
}

void TVideoWriter::TState::ConvertSound(const std::uint8_t** input, int samples)
{
    const int room = swr_get_out_samples(Resampler.get(), samples);
    if (room <= 0)
        return;
    std::uint8_t** planes = Converted->Reserve(room);
    const int converted = swr_convert(Resampler.get(), planes, room, input, samples);
    Check(converted, "cannot resample the sound for");
    if (converted > 0 && av_audio_fifo_write(Fifo.get(), reinterpret_cast<void**>(planes), converted) < converted)
        throw std::bad_alloc();
}

// Encodes what the queue holds in whole frames; at the end, also the last,
// shorter frame. Nothing beyond the span's length is encoded.
void TVideoWriter::TState::EncodeSound(bool toTheEnd)
{
    const int frameSize = Sound->nb_samples;
    for (;;) {
        const std::int64_t left = AudioTotal - AudioSent;
        const int queued = av_audio_fifo_size(Fifo.get());
        const int count = static_cast<int>(std::min<std::int64_t>({frameSize, left, queued}));
        if (count <= 0 || (count < frameSize && !toTheEnd))
            return;
        Check(av_frame_make_writable(Sound.get()), "cannot encode");
        Sound->nb_samples = count;
        av_audio_fifo_read(Fifo.get(), reinterpret_cast<void**>(Sound->data), count);
        Sound->pts = AudioSent;
        AudioSent += count;
        Encode(*Audio, *AudioStream, Sound.get());
        Sound->nb_samples = frameSize;
    }
}

void TVideoWriter::TState::PumpSound(double untilSeconds)
{
    const std::int64_t target =
        std::min<std::int64_t>(Music->Length(), std::llround(std::max(0.0, untilSeconds) * double(Music->Rate())));
    const std::size_t channels = static_cast<std::size_t>(Music->Channels());
    while (Music->Position() < target) {
        const std::size_t count = static_cast<std::size_t>(std::min<std::int64_t>(4096, target - Music->Position()));
        Decoded.resize(count * channels);
        const std::size_t read = Music->Read(Decoded.data(), count);
        const auto* input = reinterpret_cast<const std::uint8_t*>(Decoded.data());
        ConvertSound(&input, static_cast<int>(read));
        EncodeSound(false);
    }
}

TFrame TVideoWriter::TState::NewPicture() const
{
    TFrame picture(av_frame_alloc());
    if (!picture)
        throw std::bad_alloc();
    picture->format = PictureFormat;
    picture->width = Settings.Width;
    picture->height = Settings.Height;
    picture->color_range = PictureRange;
    picture->colorspace = PictureSpace;
    Check(av_frame_get_buffer(picture.get(), 0), "cannot make frames for");
    return picture;
}

void TVideoWriter::TState::EncodePicture(AVFrame& picture)
{
    picture.pts = Encoded;
    Encode(*Video, *VideoStream, &picture);
    ++Encoded;
    if (Music)
        PumpSound(Encoded / Settings.Fps);
}

void TVideoWriter::TState::Work()
{
    for (;;) {
        TFrame picture;
        {
            std::unique_lock lock(Mutex);
            Changed.wait(lock, [this] { return !Waiting.empty() || Closing; });
            if (Waiting.empty())
                return;
            picture = std::move(Waiting.front());
            Waiting.pop_front();
        }
        Changed.notify_all();
        try {
            EncodePicture(*picture);
        } catch (...) {
            std::lock_guard lock(Mutex);
            Failure = std::current_exception();
            Waiting.clear();
            Changed.notify_all();
            return;
        }
        std::lock_guard lock(Mutex);
        Spare.push_back(std::move(picture));
    }
}

void TVideoWriter::TState::StopWorker(bool dropWaiting)
{
    if (!Worker.joinable())
        return;
    {
        std::lock_guard lock(Mutex);
        Closing = true;
        if (dropWaiting)
            Waiting.clear();
    }
    Changed.notify_all();
    Worker.join();
}

TVideoWriter::TVideoWriter(const TVideoSettings& settings) : F(std::make_unique<TState>())
{
    F->Settings = settings;
    F->Container = VideoContainerOf(settings.FileName);
    if (settings.Width < 16 || settings.Height < 16 || settings.Width % 2 || settings.Height % 2)
        throw std::invalid_argument("a video's width and height must be even and at least 16, not " +
                                    std::to_string(settings.Width) + "x" + std::to_string(settings.Height));
    if (!(settings.Fps > 0 && settings.Fps <= 1000))
        throw std::invalid_argument("a video's frame rate must be above 0 and at most 1000");
    const int maxCrf = F->Container == TVideoContainer::WebM ? 63 : 51;
    if (settings.Crf < 0 || settings.Crf > maxCrf)
        throw std::invalid_argument("--crf: " + std::to_string(settings.Crf) + " is outside 0 to " +
                                    std::to_string(maxCrf) + " for " + fs::path(settings.FileName).extension().string());
    if (!(settings.Seconds >= 0) || !(settings.MusicFrom >= 0))
        throw std::invalid_argument("a video's span must not be negative");
    std::error_code ignored;
    if (fs::is_directory(settings.FileName, ignored))
        throw std::runtime_error("cannot write " + settings.FileName + ": it is a folder");

    av_log_set_level(AV_LOG_QUIET);
    if (!settings.Music.empty())
        F->Music = std::make_unique<TSoundtrackSpan>(settings.Music, settings.MusicFrom, settings.Seconds);

    const char* muxer = F->Container == TVideoContainer::Mp4      ? "mp4"
                        : F->Container == TVideoContainer::Matroska ? "matroska"
                                                                    : "webm";
    const AVOutputFormat* format = av_guess_format(muxer, nullptr, nullptr);
    if (!format)
        throw std::runtime_error(std::string("the installed FFmpeg libraries cannot write ") + muxer + " files");
    F->Packet.reset(av_packet_alloc());
    if (!F->Packet)
        throw std::bad_alloc();

    F->Temporary = CreateTemporaryFile(settings.FileName);
    try {
        AVFormatContext* context = nullptr;
        F->Check(avformat_alloc_output_context2(&context, format, nullptr, F->Temporary.c_str()), "cannot write");
        F->Format.reset(context);
        F->OpenVideo();
        if (F->Music)
            F->OpenAudio();
        F->Check(avio_open(&F->Format->pb, F->Temporary.c_str(), AVIO_FLAG_WRITE), "cannot write");
        AVDictionary* options = nullptr;
        // Index first, so that a player on the web can start before the
        // whole file is there.
        if (F->Container == TVideoContainer::Mp4)
            av_dict_set(&options, "movflags", "+faststart", 0);
        const int written = avformat_write_header(F->Format.get(), &options);
        av_dict_free(&options);
        F->Check(written, "cannot write");
        F->Worker = std::thread([state = F.get()] { state->Work(); });
    } catch (...) {
        F->Format.reset();
        std::remove(F->Temporary.c_str());
        throw;
    }
}

TVideoWriter::~TVideoWriter()
{
    F->StopWorker(true);
    if (F->Finished)
        return;
    F->Format.reset(); // closes the file before it goes
    if (!F->Temporary.empty())
        std::remove(F->Temporary.c_str());
}

void TVideoWriter::WriteFrame(const std::uint8_t* firstRow, std::ptrdiff_t stride)
{
    TState& s = *F;
    if (s.Finished || s.Closing)
        throw std::logic_error("TVideoWriter.WriteFrame: the video is finished");
    TFrame picture;
    {
        std::unique_lock lock(s.Mutex);
        s.Changed.wait(lock, [&s] { return s.Waiting.size() < TState::QueueLength || s.Failure; });
        if (s.Failure)
            std::rethrow_exception(s.Failure);
        if (!s.Spare.empty()) {
            picture = std::move(s.Spare.back());
            s.Spare.pop_back();
        }
    }
    if (!picture)
        picture = s.NewPicture();
    // The encoder has let go of the picture by now; should it not have,
    // this gives the picture buffers of its own.
    s.Check(av_frame_make_writable(picture.get()), "cannot encode");
    ConvertToYuv420(firstRow, stride, s.Settings.Width, s.Settings.Height,
                    s.Settings.Bgra ? TPixelLayout::Bgra : TPixelLayout::Rgb,
                    {picture->data[0], picture->linesize[0], picture->data[1], picture->data[2], picture->linesize[1]});
    {
        std::lock_guard lock(s.Mutex);
        s.Waiting.push_back(std::move(picture));
    }
    s.Changed.notify_all();
    ++s.Frames;
}

void TVideoWriter::Finish()
{
    TState& s = *F;
    if (s.Finished)
        return;
    s.StopWorker(false);
    if (s.Failure)
        std::rethrow_exception(s.Failure);
    if (s.Music) {
        s.PumpSound(s.Settings.Seconds);
        // What the resampler still holds, then silence up to the span's
        // length should the music have come up short.
        s.ConvertSound(nullptr, 0);
        for (;;) {
            const std::int64_t missing = s.AudioTotal - s.AudioSent - av_audio_fifo_size(s.Fifo.get());
            if (missing <= 0)
                break;
            const int count = static_cast<int>(std::min<std::int64_t>(missing, 4096));
            std::uint8_t** planes = s.Converted->Reserve(count);
            av_samples_set_silence(planes, 0, count, s.Music->Channels(), s.Audio->sample_fmt);
            if (av_audio_fifo_write(s.Fifo.get(), reinterpret_cast<void**>(planes), count) < count)
                throw std::bad_alloc();
            s.EncodeSound(false);
        }
        s.EncodeSound(true);
        s.Encode(*s.Audio, *s.AudioStream, nullptr);
    }
    s.Encode(*s.Video, *s.VideoStream, nullptr);
    s.Check(av_write_trailer(s.Format.get()), "cannot write");
    const int closed = avio_closep(&s.Format->pb);
    s.Check(closed, "cannot write");
    if (std::rename(s.Temporary.c_str(), s.Settings.FileName.c_str()) != 0)
        throw std::runtime_error("cannot write " + s.Settings.FileName + ": " + std::strerror(errno));
    s.Finished = true;
}

const std::string& TVideoWriter::TemporaryFileName() const { return F->Temporary; }

bool TVideoWriter::HasSound() const { return F->Music != nullptr; }

int TVideoWriter::FramesWritten() const { return F->Frames; }

} // namespace vendrake
