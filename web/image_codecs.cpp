// PNG and JPEG for the web build, where libpng and libjpeg are not to be had:
// the same readers' interface over the single-file stb decoders. Pixels come
// out as the desktop readers give them: rows top first, B, G, R[, A].
#include "render/image_readers.h"

#include "stream/stream.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace vendrake {

namespace {

constexpr std::array<std::uint8_t, 8> PngSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

std::vector<std::uint8_t> Rest(TStream& stream)
{
    const std::int64_t left = std::max<std::int64_t>(stream.Remaining(), 0);
    if (std::uint64_t(left) > TBitmap::MaxBytes)
        stream.RaiseReadError(stream.Position(), "image data of " + std::to_string(left) + " bytes is too large");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(left));
    bytes.resize(stream.Read(bytes.data(), bytes.size()));
    return bytes;
}

// Decodes into the bitmap, refusing sizes beyond its limit before any pixel
// memory is taken. Returns whether the image carries alpha.
bool Decode(TStream& stream, std::int64_t start, const std::vector<std::uint8_t>& bytes, const char* kind,
            TBitmap& bitmap)
{
    int w = 0, h = 0, channels = 0;
    const int length = static_cast<int>(std::min<std::size_t>(bytes.size(), 0x7FFFFFFF));
    if (!stbi_info_from_memory(bytes.data(), length, &w, &h, &channels))
        stream.RaiseReadError(start, std::string(kind) + ": " + stbi_failure_reason());
    const bool alpha = channels == 2 || channels == 4;
    const TPixelFormat format = alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit;
    if (TBitmap::BytesFor(w, h, format) > TBitmap::MaxBytes)
        stream.RaiseReadError(start, std::string(kind) + " image of " + std::to_string(w) + " x " +
                                         std::to_string(h) + " pixels exceeds the bitmap limit");
    const int n = alpha ? 4 : 3;
    stbi_uc* pixels = stbi_load_from_memory(bytes.data(), length, &w, &h, &channels, n);
    if (!pixels)
        stream.RaiseReadError(start, std::string(kind) + ": " + stbi_failure_reason());
    bitmap.SetSize(0, 0);
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        const stbi_uc* from = pixels + std::size_t(y) * w * n;
        std::uint8_t* to = bitmap.ScanLine(y);
        for (int x = 0; x < w; ++x, from += n, to += n) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
            if (n == 4)
                to[3] = from[3];
        }
    }
    stbi_image_free(pixels);
    return alpha;
}

// The length of the JPEG at the start of bytes, up to its end-of-image
// marker, so that the stream is left right after the image.
std::size_t JpegLength(const std::vector<std::uint8_t>& b)
{
    std::size_t i = 2;
    while (i + 3 < b.size()) {
        if (b[i] != 0xFF)
            return b.size();
        const std::uint8_t marker = b[i + 1];
        if (marker == 0xD9)
            return i + 2;
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        const std::size_t length = std::size_t(b[i + 2]) << 8 | b[i + 3];
        i += 2 + length;
        if (marker != 0xDA)
            continue;
        // Entropy-coded data runs to the next marker that is neither a
        // stuffed zero nor a restart.
        while (i + 1 < b.size() && !(b[i] == 0xFF && b[i + 1] != 0 && (b[i + 1] < 0xD0 || b[i + 1] > 0xD7)))
            ++i;
    }
    return b.size();
}

} // namespace

const TGraphicExGraphicClass& TPNGGraphic::ClassRef()
{
    static const TGraphicExGraphicClass ref{"PNG", &TPNGGraphic::CanLoad, [] {
                                                return std::unique_ptr<TGraphicExGraphic>(std::make_unique<TPNGGraphic>());
                                            }};
    return ref;
}

bool TPNGGraphic::CanLoad(TStream& stream)
{
    const std::int64_t start = stream.Position();
    std::array<std::uint8_t, 8> signature{};
    const bool complete = stream.Read(signature.data(), signature.size()) == signature.size();
    stream.Seek(start);
    return complete && signature == PngSignature;
}

void TPNGGraphic::ReadImage(TStream& stream)
{
    const std::int64_t start = stream.Position();
    const std::vector<std::uint8_t> bytes = Rest(stream);
    const bool alpha = Decode(stream, start, bytes, "PNG", *this);
    ImageProperties = TImageProperties{};
    ImageProperties.Width = Width();
    ImageProperties.Height = Height();
    ImageProperties.SamplesPerPixel = alpha ? 4 : 3;
    ImageProperties.BitsPerSample = 8;
    ImageProperties.ColorScheme = alpha ? TColorScheme::csRGBA : TColorScheme::csRGB;
    ImageProperties.Compression = TCompressionType::ctLZ77;
    ImageProperties.TopDown = true;
}

void TJPEGImage::LoadFromStream(TStream& stream)
{
    const std::int64_t start = stream.Position();
    const std::vector<std::uint8_t> bytes = Rest(stream);
    if (Decode(stream, start, bytes, "JPEG", *this)) {
        SetSize(0, 0);
        stream.RaiseReadError(start, "JPEG: not a colour or grey image");
    }
    stream.Seek(start + std::int64_t(JpegLength(bytes)));
}

} // namespace vendrake
