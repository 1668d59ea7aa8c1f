#include "app/draw.h"

namespace vendrake {

TdblBuffDraw::TdblBuffDraw(TForm& owner) : TDrawParent(owner)
{
    FBitmap.SetSize(Width(), Height());
}

void TdblBuffDraw::SetWidth(int value)
{
    TCustomControl::SetWidth(value);
    FBitmap.SetWidth(value);
}

void TdblBuffDraw::SetHeight(int value)
{
    TCustomControl::SetHeight(value);
    FBitmap.SetHeight(value);
}

void TdblBuffDraw::Resize()
{
    TDrawParent::Resize();
    SetWidth(Width());
    SetHeight(Height());
}

void TdblBuffDraw::Paint()
{
    if (FOnPaint) {
        FOnPaint(*this);
        return;
    }
    Canvas().Brush.Style = TBrushStyle::bsSolid;
    Canvas().Rectangle(0, 0, Width(), Height());
}

} // namespace vendrake
