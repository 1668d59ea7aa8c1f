#include "scene/pixel_format.h"

namespace vendrake {

TgrPixelFormat::TgrPixelFormat(int index, const PIXELFORMATDESCRIPTOR& d)
    : Descriptor(d), Index(index), PixelType(d.iPixelType), ColorBits(d.cColorBits),
      DepthBits(d.cDepthBits), StencilBits(d.cStencilBits), AccumBits(d.cAccumBits),
      RedBits(d.cRedBits), GreenBits(d.cGreenBits), BlueBits(d.cBlueBits), AlphaBits(d.cAlphaBits),
      AccumRedBits(d.cAccumRedBits), AccumGreenBits(d.cAccumGreenBits),
      AccumBlueBits(d.cAccumBlueBits), AccumAlphaBits(d.cAccumAlphaBits)
{
    const std::uint32_t f = d.dwFlags;
    DoubleBuffer = f & PFD_DOUBLEBUFFER;
    Stereo = f & PFD_STEREO;
    DrawToWindow = f & PFD_DRAW_TO_WINDOW;
    DrawToBitmap = f & PFD_DRAW_TO_BITMAP;
    SupportGDI = f & PFD_SUPPORT_GDI;
    SupportOpenGL = f & PFD_SUPPORT_OPENGL;
    GenericFormat = f & PFD_GENERIC_FORMAT;
    NeedPalette = f & PFD_NEED_PALETTE;
    NeedSystemPalette = f & PFD_NEED_SYSTEM_PALETTE;
    SwapExchange = f & PFD_SWAP_EXCHANGE;
    SwapCopy = f & PFD_SWAP_COPY;
    SwapLayerBuffers = f & PFD_SWAP_LAYER_BUFFERS;
    GenericAccelerated = f & PFD_GENERIC_ACCELERATED;
    HasAlpha = AlphaBits > 0;
    HasAccum = AccumBits > 0;
    HasDepth = DepthBits > 0;
    HasStencil = StencilBits > 0;
    Accelerated = !GenericFormat && !GenericAccelerated;
}

namespace {

int MoreFirst(int left, int right)
{
    if (left == right)
        return 0;
    return right > left ? 1 : -1;
}

int FlagFirst(bool left, bool right) { return int(right) - int(left); }

} // namespace

TgrPixelFormatCompare PixelFormatCompare(std::uint8_t code)
{
    switch (code) {
    case pcDepth:
        return [](const TgrPixelFormat& l, const TgrPixelFormat& r) { return FlagFirst(l.HasDepth, r.HasDepth); };
    case pcColorBits:
        return [](const TgrPixelFormat& l, const TgrPixelFormat& r) { return MoreFirst(l.ColorBits, r.ColorBits); };
    case pcAccelerated:
        return [](const TgrPixelFormat& l, const TgrPixelFormat& r) {
            return FlagFirst(l.Accelerated, r.Accelerated);
        };
    case pcNotAccelerated:
        return [](const TgrPixelFormat& l, const TgrPixelFormat& r) {
            return FlagFirst(!l.Accelerated, !r.Accelerated);
        };
    case pcStencilBits:
        return [](const TgrPixelFormat& l, const TgrPixelFormat& r) {
            return MoreFirst(l.StencilBits, r.StencilBits);
        };
    case pcAlphaBits:
        return [](const TgrPixelFormat& l, const TgrPixelFormat& r) { return MoreFirst(l.AlphaBits, r.AlphaBits); };
    case pcDoubleBuffer:
        return [](const TgrPixelFormat& l, const TgrPixelFormat& r) {
            return FlagFirst(l.DoubleBuffer, r.DoubleBuffer);
        };
    case pcStereo:
        return [](const TgrPixelFormat& l, const TgrPixelFormat& r) { return FlagFirst(l.Stereo, r.Stereo); };
    default:
        return nullptr;
    }
}

void TgrPixelFormats::Sort(TgrPixelFormatCompare compare)
{
    if (!compare)
        return;
    FScratch.resize(FItems.size());
    FCompare = compare;
    SortRange(0, Count() - 1);
    FScratch.clear();
    FCompare = nullptr;
}

void TgrPixelFormats::SortRange(int lo, int hi)
{
    if (lo >= hi)
        return;
    const int mid = (lo + hi) / 2;
    SortRange(lo, mid);
    SortRange(mid + 1, hi);
    for (int i = lo; i <= hi; ++i)
        FScratch[static_cast<std::size_t>(i - lo)] = std::move(FItems[static_cast<std::size_t>(i)]);
    int left = 0;
    const int leftEnd = mid - lo;
    int right = mid - lo + 1;
    const int rightEnd = hi - lo;
    for (int out = lo; out <= hi; ++out) {
        const bool takeLeft =
            left <= leftEnd && (right > rightEnd ||
                                FCompare(*FScratch[static_cast<std::size_t>(left)],
                                         *FScratch[static_cast<std::size_t>(right)]) <= 0);
        FItems[static_cast<std::size_t>(out)] =
            std::move(FScratch[static_cast<std::size_t>(takeLeft ? left++ : right++)]);
    }
}

void TgrPixelFormats::SortByCriteria(const std::vector<std::uint8_t>& criteria)
{
    for (std::uint8_t code : criteria)
        Sort(PixelFormatCompare(code));
}

} // namespace vendrake
