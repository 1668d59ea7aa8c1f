#pragma once
// The drawing surface that fills the main form and carries the OpenGL
// context. Its window has no background, so the server never erases what the
// render thread drew, and painting is left to an onPaint handler.
#include "platform/bitmap.h"
#include "platform/form.h"

#include <functional>

namespace vendrake {

using TNotifyEvent = std::function<void(TCustomControl& Sender)>;

class TDrawParent : public TCustomControl {
public:
    using TCustomControl::TCustomControl;
};

class TdblBuffDraw : public TDrawParent {
public:
    explicit TdblBuffDraw(TForm& owner);

    // The toolkit's size setters, then the off-screen bitmap follows.
    void SetWidth(int value);
    void SetHeight(int value);
    void SetOnPaint(TNotifyEvent handler) { FOnPaint = std::move(handler); }

    const TBitmap& Bitmap() const { return FBitmap; }

protected:
    // onPaint when set; otherwise fill the client area with the canvas's brush
    // and outline it with its pen.
    void Paint() override;
    // Keeps the bitmap at the control's size.
    void Resize() override;

private:
    TBitmap FBitmap{0, 0, TPixelFormat::pfDevice};
    TNotifyEvent FOnPaint;
};

} // namespace vendrake
