// The image-reader registry on arbitrary bytes, as a texture map takes an
// image: the readers' content tests in turn (Targa, PNG), JPEG for what none
// accepts, then the conversion to true colour, the stretch to power-of-two
// sides, the copy into the map's pixels and an upload through the null GL
// table. A refused image must be refused with the stream's read error.
#include "stream/stream.h"
#include "render/image_readers.h"
#include "render/texture.h"
#include "scene/gl_null.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace vendrake;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static TNullGL NoGL;
    TMemoryStream stream({data, size});
    if (FileFormatList().GraphicFromContent(stream) && stream.Position() != 0)
        std::abort(); // content tests must leave the position alone
    TgrTexMap2d map;
    try {
        map.LoadImageStream(stream, 0, 0);
    } catch (const EReadError&) {
        return 0;
    }
    // The pixels fill whole rows of power-of-two sides.
    const auto w = std::size_t(map.Width), h = std::size_t(map.Height);
    if (w == 0 || h == 0 || (w & (w - 1)) != 0 || (h & (h - 1)) != 0 || map.Pixels.size() % (w * h) != 0)
        std::abort();
    map.Prepare(true);
    map.DrawTexture();
    return 0;
}
