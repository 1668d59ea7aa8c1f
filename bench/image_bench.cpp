// Image decoding against reference decoders, side by side on the same bytes.
// Targa: TTargaGraphic against stb_image on 4096 by 4096 pictures of 24 and
// 32 bits, plain and run-length coded. JPEG: the registry's fallback path
// (ReadImageByContent) against libjpeg-turbo called directly into the same
// 24-bit B, G, R layout. Every decoder reads from memory; the input stream
// is made once and rewound, so no run pays for copying its input.
#include "stream/stream.h"
#include "render/image_readers.h"
#include "render/targa.h"
#include "tools/demo/image_files.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#include <stb/stb_image.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <vector>

using namespace vendrake;

namespace {

constexpr int Side = 4096;

// Every decoded image gets a fresh mapping that the decoder faults in page
// by page, as a texture loaded once does. Left to itself, glibc sometimes
// serves a large block from warm heap memory an earlier case freed, and
// that, not the decoder, would decide a comparison.
const bool FreshImageMemory = [] {
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 20);
    return true;
}();

// Blocks of flat colour 16 pixels wide with a fine gradient every other
// row: plain rows give run-length packets of 16, gradient rows give literal
// packets, so both packet kinds are exercised in about equal parts.
demo::TImage MakePicture(int channels)
{
    demo::TImage image(Side, Side, channels);
    std::uint8_t* p = image.Pixels.data();
    for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x) {
            const int block = (x / 16) * 7 + (y / 16) * 13;
            const int fine = (y % 2) ? x : 0;
            p[0] = static_cast<std::uint8_t>(block + fine);
            p[1] = static_cast<std::uint8_t>(block * 3 + y);
            p[2] = static_cast<std::uint8_t>(block * 5);
            if (channels == 4)
                p[3] = static_cast<std::uint8_t>(255 - block);
            p += channels;
        }
    return image;
}

const std::vector<std::uint8_t>& TargaBytes(int channels, bool runLength)
{
    static std::map<std::pair<int, bool>, std::vector<std::uint8_t>> cache;
    auto [it, fresh] = cache.try_emplace({channels, runLength});
    if (fresh)
        it->second = demo::EncodeTarga(MakePicture(channels), runLength, false);
    return it->second;
}

const std::vector<std::uint8_t>& JpegBytes()
{
    static const std::vector<std::uint8_t> bytes = demo::EncodeJpeg(MakePicture(3), 92);
    return bytes;
}

void OursTarga(benchmark::State& state)
{
    const int channels = static_cast<int>(state.range(0));
    const bool runLength = state.range(1) != 0;
    TMemoryStream stream(TargaBytes(channels, runLength));
    for (auto _ : state) {
        stream.Seek(0);
        TTargaGraphic image;
        image.ReadImage(stream);
        benchmark::DoNotOptimize(image.ScanLine(0));
    }
    state.SetBytesProcessed(state.iterations() * Side * Side * channels);
}

void StbTarga(benchmark::State& state)
{
    const int channels = static_cast<int>(state.range(0));
    const bool runLength = state.range(1) != 0;
    const std::vector<std::uint8_t>& bytes = TargaBytes(channels, runLength);
    for (auto _ : state) {
        int w = 0, h = 0, n = 0;
        stbi_uc* pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &n, 0);
        if (!pixels || w != Side || h != Side || n != channels) {
            stbi_image_free(pixels);
            state.SkipWithError("stb_image refused the picture");
            break;
        }
        benchmark::DoNotOptimize(pixels);
        stbi_image_free(pixels);
    }
    state.SetBytesProcessed(state.iterations() * Side * Side * channels);
}

void OursJpeg(benchmark::State& state)
{
    TMemoryStream stream(JpegBytes());
    for (auto _ : state) {
        stream.Seek(0);
        TBitmap image = ReadImageByContent(stream);
        benchmark::DoNotOptimize(image.ScanLine(0));
    }
    state.SetBytesProcessed(state.iterations() * Side * Side * 3);
}

struct TJpegFailure {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
};

[[noreturn]] void JpegFail(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<TJpegFailure*>(info->err)->Jump, 1);
}

// Kept apart from the benchmark loop so that nothing with a destructor lives
// across the setjmp.
bool DecodeTurbo(const std::vector<std::uint8_t>& bytes, JSAMPROW* rows)
{
    jpeg_decompress_struct info{};
    TJpegFailure failure{};
    info.err = jpeg_std_error(&failure.Base);
    failure.Base.error_exit = JpegFail;
    if (setjmp(failure.Jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height)
        jpeg_read_scanlines(&info, rows + info.output_scanline, info.output_height - info.output_scanline);
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

// libjpeg-turbo with its defaults, into a fresh buffer of B, G, R rows per
// decode, as a decoder that hands back a new image must do.
void TurboJpeg(benchmark::State& state)
{
    const std::vector<std::uint8_t>& bytes = JpegBytes();
    constexpr std::size_t RowBytes = static_cast<std::size_t>(Side) * 3;
    std::vector<JSAMPROW> rows(Side);
    for (auto _ : state) {
        auto pixels = std::make_unique_for_overwrite<std::uint8_t[]>(RowBytes * Side);
        for (std::size_t y = 0; y < rows.size(); ++y)
            rows[y] = pixels.get() + y * RowBytes;
        if (!DecodeTurbo(bytes, rows.data())) {
            state.SkipWithError("libjpeg refused the picture");
            break;
        }
        benchmark::DoNotOptimize(pixels.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * Side * Side * 3);
}

void TargaCases(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"channels", "rle"});
    for (int channels : {3, 4})
        for (int rle : {0, 1})
            b->Args({channels, rle});
    b->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(OursTarga)->Apply(TargaCases);
BENCHMARK(StbTarga)->Apply(TargaCases);
BENCHMARK(OursJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(TurboJpeg)->Unit(benchmark::kMillisecond);
