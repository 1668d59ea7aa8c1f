// The Targa reader on arbitrary bytes: the content test, then a full decode,
// whether or not the content test accepted the data. A decoded image must
// have the size its header announced; a refused one must say so with the
// stream's read error.
#include "stream/stream.h"
#include "render/targa.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace vendrake;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TMemoryStream stream({data, size});
    TTargaGraphic::CanLoad(stream);
    if (stream.Position() != 0)
        std::abort(); // the content test must leave the position alone
    TTargaGraphic image;
    try {
        image.ReadImage(stream);
    } catch (const EReadError&) {
        return 0;
    }
    if (image.Width() != image.ImageProperties.Width || image.Height() != image.ImageProperties.Height ||
        stream.Position() > stream.Size())
        std::abort();
    // Every row must be there to be read.
    unsigned sum = 0;
    if (image.RowBytes() > 0)
        for (int y = 0; y < image.Height(); ++y)
            sum += image.ScanLine(y)[image.RowBytes() - 1];
    return sum == 0xFFFFFFFFu ? 1 : 0;
}
