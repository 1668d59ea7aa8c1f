#include "scene/pixel_format.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vendrake;

namespace {

struct TFormatShape {
    int color = 24, alpha = 0, depth = 0, stencil = 0;
    bool doubleBuffer = false, generic = false, genericAccelerated = false, stereo = false;
};

TgrPixelFormats Formats(const std::vector<TFormatShape>& shapes)
{
    TgrPixelFormats list;
    int index = 1;
    for (const TFormatShape& s : shapes) {
        PIXELFORMATDESCRIPTOR d{};
        d.nSize = sizeof d;
        d.cColorBits = static_cast<std::uint8_t>(s.color);
        d.cAlphaBits = static_cast<std::uint8_t>(s.alpha);
        d.cDepthBits = static_cast<std::uint8_t>(s.depth);
        d.cStencilBits = static_cast<std::uint8_t>(s.stencil);
        d.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | (s.doubleBuffer ? PFD_DOUBLEBUFFER : 0) |
                    (s.generic ? PFD_GENERIC_FORMAT : 0) |
                    (s.genericAccelerated ? PFD_GENERIC_ACCELERATED : 0) | (s.stereo ? PFD_STEREO : 0);
        list.Add(std::make_unique<TgrPixelFormat>(index++, d));
    }
    return list;
}

std::vector<int> Order(const TgrPixelFormats& list)
{
    std::vector<int> out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back(list.Get(i)->Index);
    return out;
}

const std::vector<std::uint8_t> RendererCriteria = {6, 2, 5, 0, 3, 7};

} // namespace

TEST(PixelFormat, FieldsFromTheDescriptor)
{
    PIXELFORMATDESCRIPTOR d{};
    d.cColorBits = 32;
    d.cAlphaBits = 8;
    d.cAccumBits = 64;
    d.cStencilBits = 8;
    d.dwFlags = PFD_DOUBLEBUFFER | PFD_GENERIC_ACCELERATED | PFD_SWAP_LAYER_BUFFERS;
    const TgrPixelFormat f(3, d);
    EXPECT_EQ(f.Index, 3);
    EXPECT_TRUE(f.DoubleBuffer && f.GenericAccelerated && f.SwapLayerBuffers);
    EXPECT_FALSE(f.Stereo || f.GenericFormat || f.SwapCopy);
    EXPECT_TRUE(f.HasAlpha && f.HasAccum && f.HasStencil);
    EXPECT_FALSE(f.HasDepth);
    EXPECT_FALSE(f.Accelerated); // generic-accelerated is not a full hardware format
    EXPECT_EQ(TgrPixelFormats().Get(0), nullptr);
}

TEST(PixelFormat, NeutralCodesKeepTheEnumerationOrder)
{
    for (const std::vector<std::uint8_t>& criteria :
         {std::vector<std::uint8_t>{}, {1}, {8}, {10, 200, 1, 8}}) {
        TgrPixelFormats list = Formats({{16}, {32, 8, 24, 8, true}, {24, 0, 16}});
        list.SortByCriteria(criteria);
        EXPECT_EQ(Order(list), (std::vector<int>{1, 2, 3}));
    }
}

TEST(PixelFormat, LastCodeIsThePrimaryKey)
{
    // Double-buffered generic beats single-buffered accelerated.
    TgrPixelFormats a = Formats({{32, 8, 24, 8, false}, {16, 0, 16, 0, true, true}});
    a.SortByCriteria(RendererCriteria);
    EXPECT_EQ(a.Get(0)->Index, 2);

    // Among double-buffered accelerated formats with depth, more stencil wins
    // over more colour; colour then alpha break the remaining ties; equal
    // formats keep ascending Index.
    TgrPixelFormats b = Formats({
        {32, 8, 24, 0, true},  // 1: no stencil
        {16, 0, 24, 8, true},  // 2: stencil, few colour bits
        {32, 0, 24, 8, true},  // 3: stencil, more colour
        {32, 8, 24, 8, true},  // 4: as 3, plus alpha
        {32, 8, 24, 8, true},  // 5: equal to 4
        {32, 8, 0, 8, true},   // 6: no depth
        {32, 8, 24, 8, false}, // 7: single-buffered
    });
    b.SortByCriteria(RendererCriteria);
    EXPECT_EQ(Order(b), (std::vector<int>{4, 5, 3, 2, 1, 6, 7}));
}

TEST(PixelFormat, FlagCriteria)
{
    TgrPixelFormats list = Formats({{24, 0, 0, 0, false, true}, {24}, {24, 0, 0, 0, false, false, false, true}});
    list.SortByCriteria({3});
    EXPECT_EQ(Order(list), (std::vector<int>{2, 3, 1}));
    list.SortByCriteria({4});
    EXPECT_EQ(Order(list), (std::vector<int>{1, 2, 3}));
    list.SortByCriteria({9});
    EXPECT_EQ(Order(list), (std::vector<int>{3, 1, 2}));
}
