// PNG images over libpng.
#include "render/image_readers.h"

#include "stream/stream.h"

#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include <png.h>

namespace vendrake {

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

} // namespace vendrake
