// JPEG images over libjpeg.
#include "render/image_readers.h"

#include "stream/stream.h"

#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

// After <cstdio>: jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

namespace vendrake {

// Both libraries report errors by jumping out of their own code. Each step
// that calls into libjpeg runs in a small function of its own that holds the
// setjmp and nothing with a destructor, so a jump never skips C++ clean-up;
// the caller turns a failed step into an exception.

namespace {

struct TJPEGErrorManager {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void JPEGErrorExit(j_common_ptr cinfo)
{
    auto* error = reinterpret_cast<TJPEGErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, error->Message);
    std::longjmp(error->Jump, 1);
}

void JPEGOutputMessage(j_common_ptr)
{
    // The program prints nothing.
}

struct TJPEGSource {
    jpeg_source_mgr Base;
    TStream* Stream;
    bool EndAllowed; // every row is out: a missing end marker is tolerated
    bool FakeEnd;
    // libjpeg-turbo takes its fast Huffman path only while a few kilobytes
    // of input are buffered (512 bytes per block of the MCU); a small buffer
    // leaves most of the image on the slow path.
    JOCTET Buffer[64 * 1024];
};

void JPEGInitSource(j_decompress_ptr) {}
void JPEGTermSource(j_decompress_ptr) {}

boolean JPEGFillInputBuffer(j_decompress_ptr cinfo)
{
    auto* source = reinterpret_cast<TJPEGSource*>(cinfo->src);
    std::size_t got = 0;
    try {
        got = source->Stream->Read(source->Buffer, sizeof source->Buffer);
    } catch (...) {
        got = 0;
    }
    if (got == 0) {
        if (!source->EndAllowed)
            ERREXIT(cinfo, JERR_INPUT_EOF);
        static const JOCTET endMarker[2] = {0xFF, JPEG_EOI};
        source->Base.next_input_byte = endMarker;
        source->Base.bytes_in_buffer = sizeof endMarker;
        source->FakeEnd = true;
        return TRUE;
    }
    source->Base.next_input_byte = source->Buffer;
    source->Base.bytes_in_buffer = got;
    return TRUE;
}

void JPEGSkipInputData(j_decompress_ptr cinfo, long count)
{
    auto* source = reinterpret_cast<TJPEGSource*>(cinfo->src);
    if (count <= 0)
        return;
    if (std::size_t(count) <= source->Base.bytes_in_buffer) {
        source->Base.next_input_byte += count;
        source->Base.bytes_in_buffer -= std::size_t(count);
        return;
    }
    // Past the buffer: move the stream instead of reading the bytes. A skip
    // beyond the end shows as the end of the data at the next fill.
    const std::int64_t beyond = count - std::int64_t(source->Base.bytes_in_buffer);
    source->Base.bytes_in_buffer = 0;
    try {
        source->Stream->Seek(source->Stream->Position() + beyond);
    } catch (...) {
    }
}

void JPEGProgress(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    auto* decompressor = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (decompressor->input_scan_number > TJPEGImage::MaxScans) {
        auto* error = reinterpret_cast<TJPEGErrorManager*>(cinfo->err);
        std::snprintf(error->Message, sizeof error->Message, "more than %d scans", TJPEGImage::MaxScans);
        std::longjmp(error->Jump, 1);
    }
}

bool JPEGCreate(j_decompress_ptr cinfo, TJPEGErrorManager* error)
{
    if (setjmp(error->Jump))
        return false;
    jpeg_create_decompress(cinfo);
    return true;
}

bool JPEGReadHeader(j_decompress_ptr cinfo, TJPEGErrorManager* error)
{
    if (setjmp(error->Jump))
        return false;
    jpeg_read_header(cinfo, TRUE);
    // Straight into the bitmap's byte order; grey becomes three equal bytes.
    cinfo->out_color_space = JCS_EXT_BGR;
    jpeg_calc_output_dimensions(cinfo);
    return true;
}

bool JPEGReadRows(j_decompress_ptr cinfo, TJPEGErrorManager* error, TJPEGSource* source, JSAMPARRAY rows)
{
    if (setjmp(error->Jump))
        return false;
    jpeg_start_decompress(cinfo);
    while (cinfo->output_scanline < cinfo->output_height) {
        if (jpeg_read_scanlines(cinfo, rows + cinfo->output_scanline,
                                cinfo->output_height - cinfo->output_scanline) == 0) {
            std::snprintf(error->Message, sizeof error->Message, "decoder stalled");
            return false;
        }
    }
    source->EndAllowed = true;
    jpeg_finish_decompress(cinfo);
    return true;
}

struct TJPEGDecompressor {
    jpeg_decompress_struct Info{};
    bool Created = false;
    ~TJPEGDecompressor()
    {
        if (Created)
            jpeg_destroy_decompress(&Info);
    }
};

} // namespace

void TJPEGImage::LoadFromStream(TStream& stream)
{
    const std::int64_t start = stream.Position();
    TJPEGErrorManager error{};
    TJPEGSource source{};
    jpeg_progress_mgr progress{};
    TJPEGDecompressor d;

    d.Info.err = jpeg_std_error(&error.Base);
    error.Base.error_exit = JPEGErrorExit;
    error.Base.output_message = JPEGOutputMessage;
    auto fail = [&] { stream.RaiseReadError(stream.Position(), std::string("JPEG: ") + error.Message); };
    if (!JPEGCreate(&d.Info, &error))
        fail();
    d.Created = true;
    d.Info.mem->max_memory_to_use = MaxWorkingMemory;
    progress.progress_monitor = JPEGProgress;
    d.Info.progress = &progress;

    source.Stream = &stream;
    source.Base.init_source = JPEGInitSource;
    source.Base.fill_input_buffer = JPEGFillInputBuffer;
    source.Base.skip_input_data = JPEGSkipInputData;
    source.Base.resync_to_restart = jpeg_resync_to_restart;
    source.Base.term_source = JPEGTermSource;
    d.Info.src = &source.Base;

    if (!JPEGReadHeader(&d.Info, &error))
        fail();
    const int w = static_cast<int>(d.Info.output_width), h = static_cast<int>(d.Info.output_height);
    if (TBitmap::BytesFor(w, h, TPixelFormat::pf24bit) > MaxBytes)
        stream.RaiseReadError(start, "JPEG image of " + std::to_string(w) + " x " + std::to_string(h) +
                                         " pixels exceeds the bitmap limit");
    SetSize(0, 0);
    SetPixelFormat(TPixelFormat::pf24bit);
    SetSize(w, h);
    std::vector<JSAMPROW> rows(std::size_t(std::max(h, 0)));
    for (int y = 0; y < h; ++y)
        rows[std::size_t(y)] = ScanLine(y);
    if (!JPEGReadRows(&d.Info, &error, &source, rows.data())) {
        // A half-decoded image is not kept.
        SetSize(0, 0);
        fail();
    }
    // Leave the stream right after the image, not after the read-ahead.
    if (!source.FakeEnd)
        stream.Seek(stream.Position() - std::int64_t(source.Base.bytes_in_buffer));
}

} // namespace vendrake
