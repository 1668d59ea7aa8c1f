// The registry of image readers; the readers themselves are in
// png_reader.cpp and jpeg_reader.cpp.
#include "render/image_readers.h"

#include "stream/stream.h"
#include "render/targa.h"


namespace vendrake {

// --- TFileFormatList ---------------------------------------------------------

void TFileFormatList::RegisterFileFormat(const TGraphicExGraphicClass& graphicClass)
{
    FClasses.push_back(&graphicClass);
}

const TGraphicExGraphicClass* TFileFormatList::GraphicFromContent(TStream& stream) const
{
    for (const TGraphicExGraphicClass* graphicClass : FClasses)
        if (graphicClass->CanLoad(stream))
            return graphicClass;
    return nullptr;
}

const TFileFormatList& FileFormatList()
{
    static const TFileFormatList list = [] {
        TFileFormatList l;
        l.RegisterFileFormat(TTargaGraphic::ClassRef());
        l.RegisterFileFormat(TPNGGraphic::ClassRef());
        return l;
    }();
    return list;
}

TBitmap ReadImageByContent(TStream& stream)
{
    if (const TGraphicExGraphicClass* graphicClass = FileFormatList().GraphicFromContent(stream)) {
        std::unique_ptr<TGraphicExGraphic> graphic = graphicClass->Create();
        graphic->ReadImage(stream);
        return std::move(static_cast<TBitmap&>(*graphic));
    }
    TJPEGImage jpeg;
    jpeg.LoadFromStream(stream);
    return std::move(static_cast<TBitmap&>(jpeg));
}

} // namespace vendrake
