#include "tools/demo/image_files.h"

#include "stream/stream.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <jpeglib.h>
#include <png.h>

namespace vendrake::demo {

namespace {

void Put16(std::vector<std::uint8_t>& out, int value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void CheckImage(const TImage& image, const char* what)
{
    if (image.Width <= 0 || image.Height <= 0 || (image.Channels != 3 && image.Channels != 4) ||
        image.Pixels.size() != std::size_t(image.Width) * std::size_t(image.Height) * std::size_t(image.Channels))
        throw std::invalid_argument(std::string(what) + ": malformed image of " + std::to_string(image.Width) +
                                    " x " + std::to_string(image.Height) + " x " + std::to_string(image.Channels));
}

// The row's pixels as the file stores them: B, G, R(, A).
std::vector<std::uint8_t> TargaRow(const TImage& image, int y)
{
    const std::size_t n = std::size_t(image.Channels);
    std::vector<std::uint8_t> row(std::size_t(image.Width) * n);
    const std::uint8_t* s = &image.Pixels[std::size_t(y) * row.size()];
    for (std::size_t x = 0; x < std::size_t(image.Width); ++x) {
        row[x * n + 0] = s[x * n + 2];
        row[x * n + 1] = s[x * n + 1];
        row[x * n + 2] = s[x * n + 0];
        if (n == 4)
            row[x * n + 3] = s[x * n + 3];
    }
    return row;
}

void RunLengthRow(const std::vector<std::uint8_t>& row, std::size_t pixelBytes, std::vector<std::uint8_t>& out)
{
    const std::size_t count = row.size() / pixelBytes;
    auto same = [&](std::size_t a, std::size_t b) {
        return std::memcmp(&row[a * pixelBytes], &row[b * pixelBytes], pixelBytes) == 0;
    };
    std::size_t i = 0;
    while (i < count) {
        std::size_t run = 1;
        while (i + run < count && run < 128 && same(i, i + run))
            ++run;
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(0x80 | (run - 1)));
            out.insert(out.end(), row.begin() + long(i * pixelBytes), row.begin() + long((i + 1) * pixelBytes));
            i += run;
            continue;
        }
        // Literal pixels up to the next pair of equal ones.
        std::size_t literal = 1;
        while (i + literal < count && literal < 128 && !(i + literal + 1 < count && same(i + literal, i + literal + 1)))
            ++literal;
        out.push_back(static_cast<std::uint8_t>(literal - 1));
        out.insert(out.end(), row.begin() + long(i * pixelBytes), row.begin() + long((i + literal) * pixelBytes));
        i += literal;
    }
}

void AppendPng(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

[[noreturn]] void PngError(png_structp png, png_const_charp message)
{
    auto* text = static_cast<std::string*>(png_get_error_ptr(png));
    *text = message;
    png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

struct TJpegError {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JpegError(j_common_ptr info)
{
    auto* error = reinterpret_cast<TJpegError*>(info->err);
    (*info->err->format_message)(info, error->Message);
    std::longjmp(error->Jump, 1);
}

} // namespace

std::vector<std::uint8_t> EncodeTarga(const TImage& image, bool runLength, bool topFirst)
{
    CheckImage(image, "Targa");
    const std::size_t pixelBytes = std::size_t(image.Channels);
    std::vector<std::uint8_t> out;
    out.push_back(0);                          // no image id
    out.push_back(0);                          // no colour map
    out.push_back(runLength ? 10 : 2);         // true colour, plain or run-length
    out.insert(out.end(), {0, 0, 0, 0, 0});    // colour map origin, length, entry size
    Put16(out, 0);                             // x origin
    Put16(out, 0);                             // y origin
    Put16(out, image.Width);
    Put16(out, image.Height);
    out.push_back(static_cast<std::uint8_t>(8 * pixelBytes));
    out.push_back(static_cast<std::uint8_t>((pixelBytes == 4 ? 8 : 0) | (topFirst ? 0x20 : 0)));
    for (int i = 0; i < image.Height; ++i) {
        const std::vector<std::uint8_t> row = TargaRow(image, topFirst ? i : image.Height - 1 - i);
        if (runLength)
            RunLengthRow(row, pixelBytes, out);
        else
            out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

std::vector<std::uint8_t> EncodePng(const TImage& image)
{
    CheckImage(image, "PNG");
    std::vector<std::uint8_t> out;
    std::string message;
    std::vector<png_bytep> rows(std::size_t(image.Height));
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = const_cast<png_bytep>(&image.Pixels[y * std::size_t(image.Width) * std::size_t(image.Channels)]);

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &message, PngError, PngWarning);
    if (!png)
        throw std::runtime_error("PNG: cannot create the encoder");
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("PNG: " + (message.empty() ? std::string("cannot encode") : message));
    }
    png_set_write_fn(png, &out, AppendPng, nullptr);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, png_uint_32(image.Width), png_uint_32(image.Height), 8,
                 image.Channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<std::uint8_t> EncodeJpeg(const TImage& image, int quality)
{
    CheckImage(image, "JPEG");
    if (image.Channels != 3)
        throw std::invalid_argument("JPEG: only RGB images are encoded");
    jpeg_compress_struct info{};
    TJpegError error{};
    info.err = jpeg_std_error(&error.Manager);
    error.Manager.error_exit = JpegError;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(error.Jump)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        throw std::runtime_error(std::string("JPEG: ") + error.Message);
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(image.Width);
    info.image_height = JDIMENSION(image.Height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    info.dct_method = JDCT_ISLOW;
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    const std::size_t stride = std::size_t(image.Width) * 3;
    while (info.next_scanline < info.image_height) {
        auto* row = const_cast<JSAMPROW>(&image.Pixels[info.next_scanline * stride]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

void WriteFileBytes(const std::string& fileName, const std::vector<std::uint8_t>& bytes)
{
    TFileStream file(fileName, TFileMode::Create);
    file.WriteBuffer(bytes.data(), bytes.size());
    file.Flush();
}

} // namespace vendrake::demo
