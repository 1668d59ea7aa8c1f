// icon_png DIR: writes the program's window icon, at each size it comes in,
// as DIR/NxN/vendrake.png, the layout of an icon theme.
#include "app/app_icon.h"
#include "tools/demo/image_files.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

using namespace vendrake;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: icon_png DIR\n", stderr);
        return 2;
    }
    try {
        for (const TIconImage& icon : VendrakeIcon()) {
            // The window icon is packed ARGB; PNG wants R, G, B, A bytes.
            demo::TImage image(icon.Width, icon.Height, 4);
            for (std::size_t i = 0; i < icon.Pixels.size(); ++i) {
                const std::uint32_t p = icon.Pixels[i];
                image.Pixels[i * 4 + 0] = static_cast<std::uint8_t>(p >> 16);
                image.Pixels[i * 4 + 1] = static_cast<std::uint8_t>(p >> 8);
                image.Pixels[i * 4 + 2] = static_cast<std::uint8_t>(p);
                image.Pixels[i * 4 + 3] = static_cast<std::uint8_t>(p >> 24);
            }
            const std::string size = std::to_string(icon.Width) + "x" + std::to_string(icon.Height);
            const std::filesystem::path folder = std::filesystem::path(argv[1]) / size;
            std::filesystem::create_directories(folder);
            demo::WriteFileBytes((folder / "vendrake.png").string(), demo::EncodePng(image));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "icon_png: %s\n", e.what());
        return 1;
    }
    return 0;
}
