#pragma once
// Pixel formats offered by the OpenGL driver, and their ranking by an ordered
// list of criterion codes.
#include "platform/wgl.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace vendrake {

class TgrPixelFormat {
public:
    TgrPixelFormat(int index, const PIXELFORMATDESCRIPTOR& descriptor);

    PIXELFORMATDESCRIPTOR Descriptor{};
    std::int32_t Index = 0; // 1-based, as SetPixelFormat takes it
    std::int32_t PixelType = 0;
    std::int32_t ColorBits = 0;
    std::int32_t DepthBits = 0;
    std::int32_t StencilBits = 0;
    std::int32_t AccumBits = 0;
    std::int32_t RedBits = 0, GreenBits = 0, BlueBits = 0;
    std::int32_t AlphaBits = 0;
    std::int32_t AccumRedBits = 0, AccumGreenBits = 0, AccumBlueBits = 0, AccumAlphaBits = 0;
    bool DoubleBuffer = false, Stereo = false, DrawToWindow = false, DrawToBitmap = false;
    bool SupportGDI = false, SupportOpenGL = false, GenericFormat = false, NeedPalette = false;
    bool NeedSystemPalette = false, SwapExchange = false, SwapCopy = false;
    bool SwapLayerBuffers = false, GenericAccelerated = false;
    bool HasAlpha = false, HasAccum = false, HasDepth = false, HasStencil = false;
    // A full hardware format: neither generic nor generic-accelerated.
    bool Accelerated = false;
};

// Criterion codes: each establishes an ordering, preferred first.
enum TgrPixelCriterion : std::uint8_t {
    pcDepth = 0,          // with a depth buffer first
    pcNone1 = 1,          // no reordering
    pcColorBits = 2,      // more colour bits first
    pcAccelerated = 3,    // accelerated first
    pcNotAccelerated = 4, // not accelerated first
    pcStencilBits = 5,    // more stencil bits first
    pcAlphaBits = 6,      // more alpha bits first
    pcDoubleBuffer = 7,   // double-buffered first
    pcNone8 = 8,          // no reordering
    pcStereo = 9          // stereo first; any code above 9 reorders nothing
};

using TgrPixelFormatCompare = int (*)(const TgrPixelFormat& left, const TgrPixelFormat& right);

// The comparison a criterion code stands for, or none for codes that leave
// the order alone.
TgrPixelFormatCompare PixelFormatCompare(std::uint8_t code);

class TgrPixelFormats {
public:
    // Fills the list with every format the driver describes on the given
    // device context, or on a hidden probe window when dc is null. Loads the
    // OpenGL libraries first. Always returns true.
    bool Enumerate(HDC dc);

    // Stable top-down merge sort: equal formats keep their order.
    void Sort(TgrPixelFormatCompare compare);
    // Sorts by each code in turn, so the last code is the primary key.
    void SortByCriteria(const std::vector<std::uint8_t>& criteria);

    int Count() const { return static_cast<int>(FItems.size()); }
    // The format at index, or none outside the list.
    TgrPixelFormat* Get(int index) const
    {
        return index >= 0 && index < Count() ? FItems[static_cast<std::size_t>(index)].get() : nullptr;
    }
    void Add(std::unique_ptr<TgrPixelFormat> format) { FItems.push_back(std::move(format)); }
    void Clear() { FItems.clear(); }

private:
    std::vector<std::unique_ptr<TgrPixelFormat>> FItems;
    std::vector<std::unique_ptr<TgrPixelFormat>> FScratch;
    TgrPixelFormatCompare FCompare = nullptr;
    void SortRange(int lo, int hi);
};

} // namespace vendrake
