#include "convert/texture_images.h"

#include "stream/stream.h"
#include "render/image_readers.h"

#include <stb_image.h>
#include <stb_image_write.h>

#include <climits>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace vendrake {

bool PlayerReadsImage(const std::vector<std::uint8_t>& bytes)
{
    try {
        TMemoryStream stream(bytes);
        const TBitmap image = ReadImageByContent(stream);
        return image.Width() > 0 && image.Height() > 0;
    } catch (const std::exception&) {
        return false;
    }
}

bool IsPngOrJpeg(const std::vector<std::uint8_t>& bytes)
{
    static constexpr std::uint8_t Png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() >= sizeof Png && std::memcmp(bytes.data(), Png, sizeof Png) == 0)
        return true;
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

std::vector<std::uint8_t> EncodePng(const std::uint8_t* pixels, int width, int height, int channels)
{
    std::vector<std::uint8_t> out;
    const auto append = [](void* context, void* data, int size) {
        auto& bytes = *static_cast<std::vector<std::uint8_t>*>(context);
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + size);
    };
    if (!stbi_write_png_to_func(append, &out, width, height, channels, pixels, width * channels))
        throw std::runtime_error("cannot encode a PNG image of " + std::to_string(width) + " x " +
                                 std::to_string(height) + " pixels");
    return out;
}

std::vector<std::uint8_t> ConvertToPng(const std::vector<std::uint8_t>& bytes, const std::string& what)
{
    if (bytes.size() > std::size_t(INT_MAX))
        throw std::runtime_error(what + ": image too large");
    int width = 0, height = 0, channels = 0;
    const std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width, &height, &channels, 0),
        stbi_image_free);
    if (!pixels)
        throw std::runtime_error(what + ": cannot decode the image (" + stbi_failure_reason() + ")");
    return EncodePng(pixels.get(), width, height, channels);
}

} // namespace vendrake
