#pragma once
// Targa images: colour-mapped, true-colour and grey, plain or
// run-length encoded, at 8, 15, 16, 24 and 32 bits per pixel.
#include "render/image_readers.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace vendrake {

// The 18-byte file header, little-endian.
struct TTargaHeader {
    std::uint8_t IDLength = 0;
    std::uint8_t ColorMapType = 0;
    std::uint8_t ImageType = 0;
    std::uint16_t ColorMapFirst = 0;
    std::uint16_t ColorMapLength = 0;
    std::uint8_t ColorMapEntrySize = 0;
    std::uint16_t XOrigin = 0;
    std::uint16_t YOrigin = 0;
    std::uint16_t Width = 0;
    std::uint16_t Height = 0;
    std::uint8_t PixelDepth = 0;
    std::uint8_t Descriptor = 0;

    static constexpr std::size_t Bytes = 18;
    static TTargaHeader FromBytes(const std::array<std::uint8_t, Bytes>& bytes);
    // The value sets the reader supports; 0 (no image) passes as an image type.
    bool Acceptable() const;
};

// The decoded image: rows top first, each Width pixels of 1 (8-bit, with a
// palette), 2 (15 and 16 bits, as a 15-bit bitmap), 3 or 4 bytes exactly as
// stored in the file.
class TTargaGraphic : public TGraphicExGraphic {
public:
    static const TGraphicExGraphicClass& ClassRef();
    // At least 19 bytes and a header within the supported value sets; the
    // position is restored either way.
    static bool CanLoad(TStream& stream);

    // Reads the header at the stream's position into ImageProperties and
    // returns it; the position ends after the header.
    TTargaHeader ReadImageProperties(TStream& stream);
    void ReadImage(TStream& stream) override;
};

// Expands run-length packets: a header byte h covers (h & 0x7F) + 1 pixels,
// one value repeated when bit 7 is set, literal values otherwise. A packet
// may run on past the pixels asked for; the rest is kept for the next call,
// so packets that cross row boundaries decode as the writer meant them.
class TTargaRLEDecoder {
public:
    explicit TTargaRLEDecoder(int pixelDepth);

    // Writes up to pixelCount pixels to dest, reading packets from
    // [source, sourceEnd) and advancing source past what it used. Returns
    // the pixels written; fewer than pixelCount means the source ran out
    // (never is a byte outside either range touched).
    std::size_t Decode(const std::uint8_t*& source, const std::uint8_t* sourceEnd,
                       std::uint8_t* dest, std::size_t pixelCount);

    const int PixelDepth;

private:
    std::size_t FPixelBytes;
    std::size_t FPending = 0; // pixels of the current packet still to write
    bool FRun = false;        // the current packet repeats FValue
    std::array<std::uint8_t, 4> FValue{};
};

// Bytes per pixel of a Targa pixel depth: 1, 2, 2, 3, 4 for 8, 15, 16, 24,
// 32; 0 for anything else.
std::size_t TargaPixelBytes(int pixelDepth);

} // namespace vendrake
