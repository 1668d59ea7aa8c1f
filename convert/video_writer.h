#pragma once
// Video files from rendered frames and a span of the soundtrack, encoded and
// muxed with FFmpeg's libraries: H.264 and AAC in .mp4 or .mkv, VP9 and Opus
// in .webm. The file is written under a temporary name beside its own and
// takes its name only once it is complete, so a failed or interrupted
// encoding never leaves half a video behind.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vendrake {

enum class TVideoContainer { Mp4, Matroska, WebM };

// The container an output file's extension asks for (any letter case).
// Throws std::invalid_argument for any other extension.
TVideoContainer VideoContainerOf(const std::string& fileName);

struct TVideoSettings {
    std::string FileName;
    int Width = 800;
    int Height = 600;
    double Fps = 60;
    // Frames come as R, G, B (3 bytes a pixel), or as B, G, R, A (4 bytes,
    // the alpha ignored), the layout OpenGL reads back fastest.
    bool Bgra = false;
    // Constant quality: 0 is lossless; H.264 goes to 51, VP9 to 63.
    int Crf = 18;
    // The MP3 whose span from MusicFrom, Seconds long, is the sound track;
    // empty for a video without sound.
    std::string Music;
    double MusicFrom = 0;
    double Seconds = 0;
};

class TVideoWriter {
public:
    // Checks the settings, opens the encoders and creates the temporary
    // file. Throws std::invalid_argument for bad settings and
    // std::runtime_error when an encoder is missing from the installed
    // libraries or a file cannot be opened. Silences FFmpeg's own logging.
    explicit TVideoWriter(const TVideoSettings& settings);
    // Unless Finish succeeded, removes the temporary file.
    ~TVideoWriter();
    TVideoWriter(const TVideoWriter&) = delete;
    TVideoWriter& operator=(const TVideoWriter&) = delete;

    // Appends the next frame, shown for 1/Fps s: Width by Height pixels in
    // the settings' layout, rows `stride` bytes apart from `firstRow` at the top
    // (a negative stride takes bottom-up rows as OpenGL reads them). The
    // pixels are converted to YUV here, which leaves the rows free; the
    // frame and the sound up to its end are encoded on the writer's own
    // thread while the caller goes on. An encoding error surfaces here or
    // in Finish.
    void WriteFrame(const std::uint8_t* firstRow, std::ptrdiff_t stride);
    // Encodes the rest of the sound, flushes the encoders, completes the
    // file and renames it to FileName.
    void Finish();

    // Where the file is written until Finish names it.
    const std::string& TemporaryFileName() const;
    bool HasSound() const;
    int FramesWritten() const;

private:
    struct TState;
    std::unique_ptr<TState> F;
};

} // namespace vendrake
