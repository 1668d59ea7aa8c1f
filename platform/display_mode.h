#pragma once
// Display-mode switching in the shape the start-up code expects: a 156-byte
// mode record and ChangeDisplaySettingsA. Implemented over XRandR 1.2+.
//
// Every change is temporary. The mode in force before the first change is
// the user's mode; a call with a null record puts it back, and so does every
// way the process can end once a change is in force: a normal exit; SIGINT,
// SIGTERM and SIGHUP (restore, then die of the signal; a program that handles
// one of them itself keeps it); SIGSEGV, SIGBUS and SIGABRT (best effort, over
// an X connection opened before the change, then on to any crash handler the
// program had), and every other signal whose default action ends the
// process: the real-time ones, SIGQUIT, SIGUSR1, SIGALRM, SIGPIPE and the
// rest. Signals the program ignores stay ignored.
#include <cstddef>
#include <cstdint>

namespace vendrake {

struct RECT;

// Byte-for-byte the classic display-mode record: 156 bytes, no padding. Only
// dmSize, dmFields, dmPelsWidth and dmPelsHeight are read.
struct DEVMODEA {
    char dmDeviceName[32];
    std::uint16_t dmSpecVersion;
    std::uint16_t dmDriverVersion;
    std::uint16_t dmSize;
    std::uint16_t dmDriverExtra;
    std::uint32_t dmFields;
    // The display variant of the record's printer/display union.
    std::int32_t dmPositionX;
    std::int32_t dmPositionY;
    std::uint32_t dmDisplayOrientation;
    std::uint32_t dmDisplayFixedOutput;
    std::int16_t dmColor;
    std::int16_t dmDuplex;
    std::int16_t dmYResolution;
    std::int16_t dmTTOption;
    std::int16_t dmCollate;
    char dmFormName[32];
    std::uint16_t dmLogPixels;
    std::uint32_t dmBitsPerPel;
    std::uint32_t dmPelsWidth;
    std::uint32_t dmPelsHeight;
    std::uint32_t dmDisplayFlags;
    std::uint32_t dmDisplayFrequency;
    std::uint32_t dmICMMethod;
    std::uint32_t dmICMIntent;
    std::uint32_t dmMediaType;
    std::uint32_t dmDitherType;
    std::uint32_t dmReserved1;
    std::uint32_t dmReserved2;
    std::uint32_t dmPanningWidth;
    std::uint32_t dmPanningHeight;
};
static_assert(sizeof(DEVMODEA) == 156);
static_assert(offsetof(DEVMODEA, dmSize) == 36);
static_assert(offsetof(DEVMODEA, dmFields) == 40);
static_assert(offsetof(DEVMODEA, dmBitsPerPel) == 104);
static_assert(offsetof(DEVMODEA, dmPelsWidth) == 108);
static_assert(offsetof(DEVMODEA, dmPelsHeight) == 112);
static_assert(offsetof(DEVMODEA, dmDisplayFrequency) == 120);

// dmFields bits.
constexpr std::uint32_t DM_BITSPERPEL = 0x00040000;
constexpr std::uint32_t DM_PELSWIDTH = 0x00080000;
constexpr std::uint32_t DM_PELSHEIGHT = 0x00100000;
constexpr std::uint32_t DM_DISPLAYFREQUENCY = 0x00400000;

// Flags. CDS_TEST only checks that the mode exists. There is no stored
// desktop configuration to update, so CDS_UPDATEREGISTRY is accepted and
// changes nothing: every change is temporary, as with CDS_FULLSCREEN.
constexpr std::uint32_t CDS_UPDATEREGISTRY = 0x00000001;
constexpr std::uint32_t CDS_TEST = 0x00000002;
constexpr std::uint32_t CDS_FULLSCREEN = 0x00000004;

// Results.
constexpr std::int32_t DISP_CHANGE_SUCCESSFUL = 0;
constexpr std::int32_t DISP_CHANGE_RESTART = 1;
constexpr std::int32_t DISP_CHANGE_FAILED = -1;    // no display, no RandR 1.2, server refused
constexpr std::int32_t DISP_CHANGE_BADMODE = -2;   // no mode of that size on the output
constexpr std::int32_t DISP_CHANGE_NOTUPDATED = -3;
constexpr std::int32_t DISP_CHANGE_BADFLAGS = -4;
constexpr std::int32_t DISP_CHANGE_BADPARAM = -5;  // dmSize too small for the fields read

// Switches the primary output (else the connected output showing the
// pointer, else the first connected one with a CRTC) to a mode of the
// requested width and height, keeping the refresh rate closest to the current
// one. Monitors right of or below it move with its new size, so they keep
// their places next to it, and come back with the user's mode. A size field whose dmFields bit is clear keeps
// its current value. A null record restores the user's mode; without a change
// in force that is a successful no-op. On failure nothing changes. Works on
// the application's X connection once it is open (a server that emulates
// mode changes per client, as Xwayland does, shows a change only to the
// windows of the connection that made it), else on a connection of its own
// to the server named by DISPLAY.
std::int32_t ChangeDisplaySettingsA(DEVMODEA* mode, std::uint32_t flags);

// The monitor a presentation plays on, in root-window coordinates: the one
// whose mode a change in force switched, else the one a change would switch.
// The whole screen when the server has no RandR 1.2; false without a display.
bool GetPresentationMonitor(RECT* monitor);

} // namespace vendrake
