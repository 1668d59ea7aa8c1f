#pragma once
// Forms and the windowed controls that sit on them.
//
// A form is a top-level X window; a control is a child X window of a form,
// created the first time its handle is asked for. Controls never have a
// background, so the server never erases what was drawn into them (OpenGL
// frames), and they paint through an overridable Paint when exposed.
#include "platform/wgl.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

union _XEvent;

namespace vendrake {

class TApplication;
class TXConnection;
class TForm;
class TCustomControl;
struct TXWindow;

enum class TBorderStyle { bsNone, bsSingle, bsSizeable };
// alClient keeps a control filling its form's client area; alCenter keeps
// its own size, centred in it.
enum class TAlign { alNone, alClient, alCenter };

// Modifier keys held during a key event.
using TShiftState = unsigned;
constexpr TShiftState ssShift = 1;
constexpr TShiftState ssAlt = 2;
constexpr TShiftState ssCtrl = 4;

// Colours as 0x00BBGGRR.
using TColorRef = std::uint32_t;
constexpr TColorRef clBlack = 0x000000;
constexpr TColorRef clWhite = 0xFFFFFF;
constexpr TColorRef clBtnFace = 0xF0F0F0;  // the button face of the usual desktop theme

enum class TPenStyle { psSolid, psDash, psDot, psClear };
enum class TBrushStyle { bsSolid, bsClear };

struct TPen {
    TColorRef Color = clBlack;
    TPenStyle Style = TPenStyle::psSolid;
    int Width = 1;
};

struct TBrush {
    TColorRef Color = clWhite;
    TBrushStyle Style = TBrushStyle::bsSolid;
};

// Drawing on a control's window with a pen and a brush.
class TCanvas {
public:
    explicit TCanvas(TCustomControl& control) : FControl(control) {}
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TPen Pen;
    TBrush Brush;

    // Fills (x1, y1)-(x2, y2), right and bottom edge excluded, with the brush
    // and outlines it inside that area with the pen.
    void Rectangle(int x1, int y1, int x2, int y2);
    // Fills with the brush only.
    void FillRect(int x1, int y1, int x2, int y2);

    TCustomControl& Control() const { return FControl; }
    // The control's window and its device context (creating the window).
    HWND Window() const;
    HDC Handle() const;

private:
    TCustomControl& FControl;
};

class TCustomControl {
public:
    explicit TCustomControl(TForm& parent);
    virtual ~TCustomControl();
    TCustomControl(const TCustomControl&) = delete;
    TCustomControl& operator=(const TCustomControl&) = delete;

    // Null once the form has gone.
    TForm* Parent() const { return FParent; }

    // The window, created on first request (the form's window with it).
    HWND Handle();
    bool HandleAllocated() const { return FWindow != nullptr; }
    TCanvas& Canvas() { return FCanvas; }

    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetBounds(int left, int top, int width, int height);
    void SetLeft(int value) { SetBounds(value, FTop, FWidth, FHeight); }
    void SetTop(int value) { SetBounds(FLeft, value, FWidth, FHeight); }
    void SetWidth(int value) { SetBounds(FLeft, FTop, value, FHeight); }
    void SetHeight(int value) { SetBounds(FLeft, FTop, FWidth, value); }

    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign align);

    // Asks for a Paint without erasing anything.
    void Invalidate();

    std::function<void(TCustomControl& Sender)> OnPaint;
    std::function<void(TCustomControl& Sender)> OnResize;

protected:
    // The window needs painting. Calls OnPaint when set.
    virtual void Paint();
    // The window was created or changed its size. Calls OnResize when set.
    virtual void Resize();

private:
    friend class TForm;
    void HandleEvent(const _XEvent& event);
    void Realign();
    void FormGone();

    TForm* FParent;
    std::unique_ptr<TXWindow> FWindow;
    TCanvas FCanvas;
    int FLeft = 0;
    int FTop = 0;
    int FWidth = 100;
    int FHeight = 100;
    TAlign FAlign = TAlign::alNone;
};

class TForm {
public:
    // The first form created on an application becomes its main form. A form
    // must not outlive its application object (the process-wide one never
    // goes away).
    explicit TForm(TApplication& application);
    virtual ~TForm();
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    TApplication& Application() const { return FApplication; }

    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& caption);
    // bsNone asks the window manager for no decorations at all.
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TBorderStyle style);

    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // Decorations are the window manager's, outside the X window.
    int ClientWidth() const { return FWidth; }
    int ClientHeight() const { return FHeight; }
    void SetBounds(int left, int top, int width, int height);
    void SetLeft(int value) { SetBounds(value, FTop, FWidth, FHeight); }
    void SetTop(int value) { SetBounds(FLeft, value, FWidth, FHeight); }
    void SetWidth(int value) { SetBounds(FLeft, FTop, value, FHeight); }
    void SetHeight(int value) { SetBounds(FLeft, FTop, FWidth, value); }

    // The window, created on first request. Throws when the application has
    // no display.
    HWND Handle();
    bool HandleAllocated() const { return FWindow != nullptr; }

    // Full screen: the window manager is asked to show the window over the
    // whole monitor its bounds lie on, with no decorations and no panels in
    // front, and to leave it uncomposited. Set the bounds to that monitor
    // too, for desktops without a window manager.
    bool FullScreen() const { return FFullScreen; }
    void SetFullScreen(bool on);

    void Show();
    void Hide();
    bool Visible() const { return FVisible; }
    // The window has the keyboard focus.
    bool Active() const { return FActive; }
    // Closing the main form ends the application's message loop; any other
    // form is hidden. The window manager's close button comes here.
    void Close();

    // Key codes are virtual-key numbers (platform/keys.h); keys without one
    // are not reported.
    std::function<void(TForm& Sender, std::uint16_t& Key, TShiftState Shift)> OnKeyDown;
    std::function<void(TForm& Sender, std::uint16_t& Key, TShiftState Shift)> OnKeyUp;
    std::function<void(TForm& Sender)> OnResize;
    // The window took the keyboard focus, or lost it to another window.
    std::function<void(TForm& Sender)> OnActivate;
    std::function<void(TForm& Sender)> OnDeactivate;

protected:
    virtual void KeyDown(std::uint16_t& key, TShiftState shift);
    virtual void KeyUp(std::uint16_t& key, TShiftState shift);
    // The client area was created or changed its size; aligned controls have
    // already followed. Calls OnResize when set.
    virtual void Resize();
    virtual void Activate();
    virtual void Deactivate();

private:
    friend class TCustomControl;
    void AddControl(TCustomControl& control);
    void RemoveControl(TCustomControl& control);
    void HandleEvent(const _XEvent& event);
    void ApplyWindowManagerHints();
    void ApplyIdentity();
    void SendFullScreenState();
    void SendToWindowManager(const char* request, const std::array<long, 5>& data);
    void TakeFocus();
    void FocusChanged(const _XEvent& event);
    void SizeChanged();

    TApplication& FApplication;
    std::shared_ptr<TXConnection> FConnection;
    std::unique_ptr<TXWindow> FWindow;
    std::vector<TCustomControl*> FControls;
    std::string FCaption;
    TBorderStyle FBorderStyle = TBorderStyle::bsSizeable;
    int FLeft = 0;
    int FTop = 0;
    int FWidth = 320;
    int FHeight = 240;
    bool FVisible = false;
    bool FFullScreen = false;
    bool FActive = false;
    bool FPlaceAfterMap = false;
    bool FReparented = false;  // a window manager put a frame around the window
    unsigned long FWmProtocols = 0;
    unsigned long FWmDeleteWindow = 0;
    unsigned long FMotifHints = 0;
};

} // namespace vendrake
