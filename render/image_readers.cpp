#include "render/image_readers.h"

#include "stream/stream.h"
#include "render/targa.h"

#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

// After <cstdio>: jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

namespace vendrake {

// --- TFileFormatList ---------------------------------------------------------

void TFileFormatList::RegisterFileFormat(const TGraphicExGraphicClass& graphicClass)
{
    FClasses.push_back(&graphicClass);
}

const TGraphicExGraphicClass* TFileFormatList::GraphicFromContent(TStream& stream) const
{
    for (const TGraphicExGraphicClass* graphicClass : FClasses)
        if (graphicClass->CanLoad(stream))
            return graphicClass;
    return nullptr;
}

const TFileFormatList& FileFormatList()
{
    static const TFileFormatList list = [] {
        TFileFormatList l;
        l.RegisterFileFormat(TTargaGraphic::ClassRef());
        l.RegisterFileFormat(TPNGGraphic::ClassRef());
        return l;
    }();
    return list;
}

TBitmap ReadImageByContent(TStream& stream)
{
    if (const TGraphicExGraphicClass* graphicClass = FileFormatList().GraphicFromContent(stream)) {
        std::unique_ptr<TGraphicExGraphic> graphic = graphicClass->Create();
        graphic->ReadImage(stream);
        return std::move(static_cast<TBitmap&>(*graphic));
    }
    TJPEGImage jpeg;
    jpeg.LoadFromStream(stream);
    return std::move(static_cast<TBitmap&>(jpeg));
}

// Both libraries report errors by jumping out of their own code. Each step
// that calls into them runs in a small function of its own that holds the
// setjmp and nothing with a destructor, so a jump never skips C++ clean-up;
// the caller turns a failed step into an exception.

// --- TPNGGraphic -------------------------------------------------------------

namespace {

struct TPNGContext {
    TStream* Stream = nullptr;
    char Message[200] = {};
};

void PNGError(png_structp png, png_const_charp message)
{
    auto* context = static_cast<TPNGContext*>(png_get_error_ptr(png));
    std::snprintf(context->Message, sizeof context->Message, "%s", message ? message : "error");
    png_longjmp(png, 1);
}

void PNGWarning(png_structp, png_const_charp)
{
    // The program prints nothing; a warning never stops decoding.
}

void PNGRead(png_structp png, png_bytep data, std::size_t length)
{
    auto* context = static_cast<TPNGContext*>(png_get_io_ptr(png));
    std::size_t got = 0;
    try {
        got = context->Stream->Read(data, length);
    } catch (...) {
        got = 0;
    }
    if (got != length)
        png_error(png, "data ends early");
}

bool PNGReadInfo(png_structp png, png_infop info)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    return true;
}

// Everything becomes 8-bit B, G, R[, A]: palettes and grey expanded,
// transparency turned into alpha, 16-bit samples scaled down.
bool PNGSetUp(png_structp png, png_infop info)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return true;
}

bool PNGReadRows(png_structp png, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    return true;
}

bool PNGReadEnd(png_structp png)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_end(png, nullptr);
    return true;
}

struct TPNGReadStruct {
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    ~TPNGReadStruct() { png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr); }
};

// Deflate turns one byte into at most 1032.
constexpr std::uint64_t MaxInflateRatio = 1032;

} // namespace

const TGraphicExGraphicClass& TPNGGraphic::ClassRef()
{
    static const TGraphicExGraphicClass ref{"PNG", &TPNGGraphic::CanLoad,
                                            [] { return std::unique_ptr<TGraphicExGraphic>(
                                                     std::make_unique<TPNGGraphic>()); }};
    return ref;
}

bool TPNGGraphic::CanLoad(TStream& stream)
{
    const std::int64_t start = stream.Position();
    std::array<png_byte, 8> signature{};
    const bool complete = stream.Read(signature.data(), signature.size()) == signature.size();
    stream.Seek(start);
    return complete && png_sig_cmp(signature.data(), 0, signature.size()) == 0;
}

void TPNGGraphic::ReadImage(TStream& stream)
{
    const std::int64_t start = stream.Position();
    TPNGContext context;
    context.Stream = &stream;
    TPNGReadStruct s;
    s.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, PNGError, PNGWarning);
    if (s.Png)
        s.Info = png_create_info_struct(s.Png);
    if (!s.Png || !s.Info)
        stream.RaiseReadError(start, "PNG: out of memory");
    png_set_read_fn(s.Png, &context, PNGRead);
    png_set_user_limits(s.Png, MaxSide, MaxSide);
    png_set_chunk_malloc_max(s.Png, 8 << 20);

    auto fail = [&] { stream.RaiseReadError(stream.Position(), std::string("PNG: ") + context.Message); };
    if (!PNGReadInfo(s.Png, s.Info))
        fail();

    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0;
    png_get_IHDR(s.Png, s.Info, &width, &height, &depth, &colorType, nullptr, nullptr, nullptr);
    const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(s.Png, s.Info, PNG_INFO_tRNS);
    const TPixelFormat format = alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit;
    const int w = static_cast<int>(width), h = static_cast<int>(height); // libpng caps both at MaxSide
    const std::string size = std::to_string(w) + " x " + std::to_string(h);
    if (TBitmap::BytesFor(w, h, format) > TBitmap::MaxBytes)
        stream.RaiseReadError(start + 16, "PNG image of " + size + " pixels exceeds the bitmap limit");
    // The filtered rows are inflated from what is left of the file; more
    // than it can expand to means the file is cut short or lies.
    const std::uint64_t rawRow = (std::uint64_t(width) * png_get_channels(s.Png, s.Info) * unsigned(depth) + 7) / 8;
    const std::uint64_t raw = std::uint64_t(height) * (1 + rawRow);
    const std::uint64_t left = std::uint64_t(std::max<std::int64_t>(stream.Remaining(), 0));
    if (raw > left * MaxInflateRatio + 1024)
        stream.RaiseReadError(stream.Position(), "PNG image of " + size + " needs " + std::to_string(raw) +
                                                     " bytes of image data, more than " +
                                                     std::to_string(left) + " bytes can hold");

    if (!PNGSetUp(s.Png, s.Info))
        fail();
    SetSize(0, 0);
    SetPixelFormat(format);
    SetSize(w, h);
    if (png_get_rowbytes(s.Png, s.Info) > RowBytes())
        stream.RaiseReadError(start, "PNG: unexpected row layout");
    std::vector<png_bytep> rows(height);
    for (int y = 0; y < h; ++y)
        rows[std::size_t(y)] = ScanLine(y);
    if (!PNGReadRows(s.Png, rows.data()))
        fail();
    // The pixels are complete; a damaged or missing trailer is not worth
    // losing them over.
    PNGReadEnd(s.Png);

    ImageProperties = TImageProperties{};
    ImageProperties.Width = w;
    ImageProperties.Height = h;
    ImageProperties.SamplesPerPixel = alpha ? 4 : 3;
    ImageProperties.BitsPerSample = 8;
    ImageProperties.ColorScheme = alpha ? TColorScheme::csRGBA : TColorScheme::csRGB;
    ImageProperties.Compression = TCompressionType::ctLZ77;
    ImageProperties.TopDown = true;
}

// --- TJPEGImage --------------------------------------------------------------

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
