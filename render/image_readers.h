#pragma once
// Image readers. Each one decodes a file format into an ordinary bitmap
// (rows top first, B, G, R[, A] bytes). Texture images are recognised by
// their content, never by their file name: the registry asks its readers in
// turn, and data that none of them accepts is decoded as JPEG.
#include "platform/bitmap.h"

#include <memory>
#include <string_view>
#include <vector>

namespace vendrake {

class TStream;

enum class TColorScheme { csUnknown, csIndexed, csG, csRGB, csRGBA };
enum class TCompressionType { ctNone, ctRLE, ctLZ77, ctJPEG };

// What a reader learns from an image's header.
struct TImageProperties {
    int Width = 0;
    int Height = 0;
    int SamplesPerPixel = 0;
    int BitsPerSample = 0;
    TColorScheme ColorScheme = TColorScheme::csUnknown;
    TCompressionType Compression = TCompressionType::ctNone;
    bool TopDown = false; // rows stored top row first
};

// The common base of the registered readers: a bitmap that fills itself from
// a stream. Decoding errors are EReadError naming the stream and offset;
// images beyond the bitmap limit are refused before anything is allocated.
class TGraphicExGraphic : public TBitmap {
public:
    TGraphicExGraphic() = default;
    virtual ~TGraphicExGraphic() = default;
    TGraphicExGraphic(TGraphicExGraphic&&) = default;
    TGraphicExGraphic& operator=(TGraphicExGraphic&&) = default;

    // Decodes the image at the stream's position into this bitmap.
    virtual void ReadImage(TStream& stream) = 0;

    TImageProperties ImageProperties;
};

// A reader class as the registry holds it: its content test and a way to
// make a reader.
struct TGraphicExGraphicClass {
    std::string_view Name;
    // Whether the stream holds this format; leaves the position unchanged.
    bool (*CanLoad)(TStream& stream);
    std::unique_ptr<TGraphicExGraphic> (*Create)();
};

class TFileFormatList {
public:
    // Appends a reader; the order of registration is the order of asking.
    void RegisterFileFormat(const TGraphicExGraphicClass& graphicClass);
    // The first registered reader whose content test accepts the stream, or
    // null. The stream position is unchanged.
    const TGraphicExGraphicClass* GraphicFromContent(TStream& stream) const;
    const std::vector<const TGraphicExGraphicClass*>& Classes() const { return FClasses; }

private:
    std::vector<const TGraphicExGraphicClass*> FClasses;
};

// The program's registry: Targa first, then PNG.
const TFileFormatList& FileFormatList();

// Decodes the image at the stream's position with the first reader that
// accepts it, or as JPEG when none does.
TBitmap ReadImageByContent(TStream& stream);

// PNG over libpng: every colour type and depth, interlaced or not, into a
// 24-bit bitmap, or 32-bit when the image carries alpha or transparency.
class TPNGGraphic : public TGraphicExGraphic {
public:
    static const TGraphicExGraphicClass& ClassRef();
    static bool CanLoad(TStream& stream);
    void ReadImage(TStream& stream) override;

    // Larger sides are refused before libpng sizes its row buffers.
    static constexpr int MaxSide = 1 << 20;
};

// JPEG over libjpeg into a 24-bit bitmap; grey images come out grey in all
// three channels. Not registered: it is the fallback for data that no
// registered reader accepts.
class TJPEGImage : public TBitmap {
public:
    void LoadFromStream(TStream& stream);

    // A progressive image with more scans than this is refused: each scan
    // costs a pass over the whole image.
    static constexpr int MaxScans = 1000;
    // libjpeg's own working memory (whole-image coefficient buffers).
    static constexpr long MaxWorkingMemory = 512L << 20;
};

} // namespace vendrake
