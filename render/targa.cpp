#include "render/targa.h"

#include "stream/stream.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace vendrake {

namespace {

bool IsSupportedImageType(int type)
{
    return (type >= 0 && type <= 3) || (type >= 9 && type <= 11);
}

bool IsSupportedEntrySize(int bits)
{
    return bits == 0 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

bool IsSupportedDepth(int bits)
{
    return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

bool IsRunLength(int type)
{
    return type >= 9 && type <= 11;
}

bool IsGrey(int type)
{
    return type == 3 || type == 11;
}

TPixelFormat FormatForDepth(int depth)
{
    switch (depth) {
    case 8: return TPixelFormat::pf8bit;
    case 15:
    case 16: return TPixelFormat::pf15bit;
    case 24: return TPixelFormat::pf24bit;
    default: return TPixelFormat::pf32bit;
    }
}

std::uint8_t Expand5(unsigned v)
{
    return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}

// Palette entries from colour-map bytes: B, G, R[, A] for 24 and 32 bits, a
// little-endian 5-5-5 word for 15 and 16 bits. An 8-bit pixel reaches the
// first 256 entries only.
std::vector<TRGBQuad> PaletteFromColorMap(const std::vector<std::uint8_t>& map, int entryBits,
                                          std::size_t entries)
{
    std::vector<TRGBQuad> palette(std::min<std::size_t>(entries, 256));
    const std::size_t b = TargaPixelBytes(entryBits);
    if (b == 0)
        return palette;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const std::uint8_t* e = map.data() + i * b;
        TRGBQuad& q = palette[i];
        if (b == 2) {
            const unsigned word = unsigned(e[0]) | (unsigned(e[1]) << 8);
            q.Red = Expand5((word >> 10) & 0x1F);
            q.Green = Expand5((word >> 5) & 0x1F);
            q.Blue = Expand5(word & 0x1F);
        } else {
            q.Blue = e[0];
            q.Green = e[1];
            q.Red = e[2];
        }
    }
    return palette;
}

std::vector<TRGBQuad> GreyRamp()
{
    std::vector<TRGBQuad> palette(256);
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        palette[std::size_t(i)] = {v, v, v, 0};
    }
    return palette;
}

template <std::size_t B> void FillRun(std::uint8_t* out, const std::uint8_t* value, std::size_t count)
{
    if constexpr (B == 1) {
        std::memset(out, value[0], count);
    } else {
        for (std::size_t i = 0; i < count; ++i, out += B)
            std::memcpy(out, value, B);
    }
}

} // namespace

std::size_t TargaPixelBytes(int pixelDepth)
{
    switch (pixelDepth) {
    case 8: return 1;
    case 15:
    case 16: return 2;
    case 24: return 3;
    case 32: return 4;
    default: return 0;
    }
}

// --- TTargaHeader ------------------------------------------------------------

TTargaHeader TTargaHeader::FromBytes(const std::array<std::uint8_t, Bytes>& b)
{
    auto word = [&b](std::size_t at) { return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)); };
    TTargaHeader h;
    h.IDLength = b[0];
    h.ColorMapType = b[1];
    h.ImageType = b[2];
    h.ColorMapFirst = word(3);
    h.ColorMapLength = word(5);
    h.ColorMapEntrySize = b[7];
    h.XOrigin = word(8);
    h.YOrigin = word(10);
    h.Width = word(12);
    h.Height = word(14);
    h.PixelDepth = b[16];
    h.Descriptor = b[17];
    return h;
}

bool TTargaHeader::Acceptable() const
{
    return IsSupportedImageType(ImageType) && ColorMapType <= 1 &&
           IsSupportedEntrySize(ColorMapEntrySize) && IsSupportedDepth(PixelDepth);
}

// --- TTargaGraphic -----------------------------------------------------------

const TGraphicExGraphicClass& TTargaGraphic::ClassRef()
{
    static const TGraphicExGraphicClass ref{"Targa", &TTargaGraphic::CanLoad,
                                            [] { return std::unique_ptr<TGraphicExGraphic>(
                                                     std::make_unique<TTargaGraphic>()); }};
    return ref;
}

bool TTargaGraphic::CanLoad(TStream& stream)
{
    const std::int64_t start = stream.Position();
    if (stream.Remaining() < std::int64_t(TTargaHeader::Bytes) + 1)
        return false;
    std::array<std::uint8_t, TTargaHeader::Bytes> bytes{};
    const bool complete = stream.Read(bytes.data(), bytes.size()) == bytes.size();
    stream.Seek(start);
    return complete && TTargaHeader::FromBytes(bytes).Acceptable();
}

TTargaHeader TTargaGraphic::ReadImageProperties(TStream& stream)
{
    std::array<std::uint8_t, TTargaHeader::Bytes> bytes{};
    stream.ReadBuffer(bytes.data(), bytes.size());
    const TTargaHeader h = TTargaHeader::FromBytes(bytes);

    TImageProperties& p = ImageProperties;
    p = TImageProperties{};
    p.Width = h.Width;
    p.Height = h.Height;
    p.TopDown = (h.Descriptor & 0x20) != 0;
    p.Compression = IsRunLength(h.ImageType) ? TCompressionType::ctRLE : TCompressionType::ctNone;
    switch (h.PixelDepth) {
    case 8:
        p.SamplesPerPixel = 1;
        p.BitsPerSample = 8;
        p.ColorScheme = IsGrey(h.ImageType) ? TColorScheme::csG : TColorScheme::csIndexed;
        break;
    case 15:
    case 16:
        p.SamplesPerPixel = 3;
        p.BitsPerSample = 5;
        p.ColorScheme = TColorScheme::csRGB;
        break;
    case 24:
        p.SamplesPerPixel = 3;
        p.BitsPerSample = 8;
        p.ColorScheme = TColorScheme::csRGB;
        break;
    case 32:
        p.SamplesPerPixel = 4;
        p.BitsPerSample = 8;
        p.ColorScheme = TColorScheme::csRGBA;
        break;
    default: break;
    }
    return h;
}

void TTargaGraphic::ReadImage(TStream& stream)
{
    const std::int64_t start = stream.Position();
    const TTargaHeader h = ReadImageProperties(stream);

    if (!IsSupportedImageType(h.ImageType))
        stream.RaiseReadError(start + 2, "unsupported Targa image type " + std::to_string(h.ImageType));
    if (h.ImageType == 0)
        stream.RaiseReadError(start + 2, "Targa image type 0 holds no image");
    if (h.ColorMapType > 1)
        stream.RaiseReadError(start + 1, "unsupported Targa colour-map type " + std::to_string(h.ColorMapType));
    if (!IsSupportedEntrySize(h.ColorMapEntrySize))
        stream.RaiseReadError(start + 7, "unsupported Targa colour-map entry size " +
                                             std::to_string(h.ColorMapEntrySize));
    if (!IsSupportedDepth(h.PixelDepth))
        stream.RaiseReadError(start + 16, "unsupported Targa pixel depth " + std::to_string(h.PixelDepth));

    if (h.IDLength > stream.Remaining())
        stream.RaiseReadError(start, "image ID of " + std::to_string(h.IDLength) + " bytes with " +
                                         std::to_string(std::max<std::int64_t>(stream.Remaining(), 0)) +
                                         " bytes left");
    stream.Seek(stream.Position() + h.IDLength);

    // A colour map is consumed whenever the header announces one, also in
    // front of grey and true-colour pixels, which do not use it.
    std::vector<TRGBQuad> palette;
    if (h.ColorMapType == 1) {
        const std::int64_t mapAt = stream.Position();
        const std::size_t bytes = std::size_t(h.ColorMapLength) * TargaPixelBytes(h.ColorMapEntrySize);
        if (std::int64_t(bytes) > stream.Remaining())
            stream.RaiseReadError(mapAt, "colour map of " + std::to_string(h.ColorMapLength) + " entries needs " +
                                             std::to_string(bytes) + " bytes, " +
                                             std::to_string(std::max<std::int64_t>(stream.Remaining(), 0)) +
                                             " left");
        std::vector<std::uint8_t> map(bytes);
        stream.ReadBuffer(map.data(), map.size());
        palette = PaletteFromColorMap(map, h.ColorMapEntrySize, h.ColorMapLength);
    }
    if (IsGrey(h.ImageType))
        palette = GreyRamp();

    const TPixelFormat format = FormatForDepth(h.PixelDepth);
    const std::size_t pixelBytes = TargaPixelBytes(h.PixelDepth);
    const std::size_t rowBytes = std::size_t(h.Width) * pixelBytes;
    const std::uint64_t pixels = std::uint64_t(h.Width) * h.Height;
    const std::int64_t dataAt = stream.Position();
    const std::int64_t left = std::max<std::int64_t>(stream.Remaining(), 0);
    const std::string size = std::to_string(h.Width) + " x " + std::to_string(h.Height);

    if (TBitmap::BytesFor(h.Width, h.Height, format) > TBitmap::MaxBytes)
        stream.RaiseReadError(start + 12, "image of " + size + " pixels at " + std::to_string(h.PixelDepth) +
                                              " bits exceeds the bitmap limit");
    // Refuse data that cannot be in the file before allocating for it: plain
    // rows are exactly width x depth bytes, and a run-length packet covers at
    // most 128 pixels with at least one header and one pixel value.
    const bool runLength = IsRunLength(h.ImageType);
    const std::uint64_t needed = runLength ? (pixels + 127) / 128 * (1 + pixelBytes) : pixels * pixelBytes;
    if (needed > std::uint64_t(left))
        stream.RaiseReadError(dataAt, "pixel data of a " + size + " image needs " +
                                          (runLength ? "at least " : "") + std::to_string(needed) +
                                          " bytes, " + std::to_string(left) + " left");

    SetSize(0, 0);
    SetPixelFormat(format);
    SetSize(h.Width, h.Height);
    Palette = std::move(palette);

    const int height = h.Height;
    const bool topFirst = ImageProperties.TopDown;
    if (!runLength) {
        for (int i = 0; i < height; ++i)
            stream.ReadBuffer(ScanLine(topFirst ? i : height - 1 - i), rowBytes);
        return;
    }

    TTargaRLEDecoder decoder(h.PixelDepth);
    std::vector<std::uint8_t> source(2 * rowBytes);
    for (int i = 0; i < height; ++i) {
        const std::int64_t rowAt = stream.Position();
        const std::size_t got = stream.Read(source.data(), source.size());
        const std::uint8_t* cursor = source.data();
        const std::size_t written =
            decoder.Decode(cursor, source.data() + got, ScanLine(topFirst ? i : height - 1 - i), h.Width);
        const std::int64_t consumed = cursor - source.data();
        stream.Seek(rowAt + consumed);
        if (written < std::size_t(h.Width))
            stream.RaiseReadError(rowAt + consumed, "run-length data ends in row " + std::to_string(i) +
                                                        " after " + std::to_string(written) + " of " +
                                                        std::to_string(h.Width) + " pixels");
    }
}

// --- TTargaRLEDecoder --------------------------------------------------------

TTargaRLEDecoder::TTargaRLEDecoder(int pixelDepth)
    : PixelDepth(pixelDepth), FPixelBytes(TargaPixelBytes(pixelDepth))
{
}

std::size_t TTargaRLEDecoder::Decode(const std::uint8_t*& source, const std::uint8_t* sourceEnd,
                                     std::uint8_t* dest, std::size_t pixelCount)
{
    const std::size_t b = FPixelBytes;
    if (b == 0)
        return 0;
    std::size_t written = 0;
    while (written < pixelCount) {
        if (FPending == 0) {
            if (source >= sourceEnd)
                break;
            const std::uint8_t h = *source;
            const bool run = (h & 0x80) != 0;
            if (run) {
                if (std::size_t(sourceEnd - source) < 1 + b)
                    break; // the value is not here yet; leave the header unread
                std::memcpy(FValue.data(), source + 1, b);
                source += 1 + b;
            } else {
                source += 1;
            }
            FRun = run;
            FPending = std::size_t(h & 0x7F) + 1;
        }
        std::size_t n = std::min(FPending, pixelCount - written);
        std::uint8_t* out = dest + written * b;
        if (FRun) {
            switch (b) {
            case 1: FillRun<1>(out, FValue.data(), n); break;
            case 2: FillRun<2>(out, FValue.data(), n); break;
            case 3: FillRun<3>(out, FValue.data(), n); break;
            default: FillRun<4>(out, FValue.data(), n); break;
            }
        } else {
            n = std::min(n, std::size_t(sourceEnd - source) / b);
            if (n == 0)
                break;
            std::memcpy(out, source, n * b);
            source += n * b;
        }
        written += n;
        FPending -= n;
    }
    return written;
}

} // namespace vendrake
