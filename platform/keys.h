#pragma once
// Virtual-key numbers, the key codes the key handlers receive, and the map
// from X keysyms to them.
#include <cstdint>

#include <X11/keysym.h>

namespace vendrake {

constexpr std::uint16_t VK_BACK = 8;
constexpr std::uint16_t VK_TAB = 9;
constexpr std::uint16_t VK_RETURN = 13;
constexpr std::uint16_t VK_SHIFT = 16;
constexpr std::uint16_t VK_CONTROL = 17;
constexpr std::uint16_t VK_MENU = 18;
constexpr std::uint16_t VK_PAUSE = 19;
constexpr std::uint16_t VK_CAPITAL = 20;
constexpr std::uint16_t VK_ESCAPE = 27;
constexpr std::uint16_t VK_SPACE = 32;
constexpr std::uint16_t VK_PRIOR = 33;
constexpr std::uint16_t VK_NEXT = 34;
constexpr std::uint16_t VK_END = 35;
constexpr std::uint16_t VK_HOME = 36;
constexpr std::uint16_t VK_LEFT = 37;
constexpr std::uint16_t VK_UP = 38;
constexpr std::uint16_t VK_RIGHT = 39;
constexpr std::uint16_t VK_DOWN = 40;
constexpr std::uint16_t VK_SNAPSHOT = 44;
constexpr std::uint16_t VK_INSERT = 45;
constexpr std::uint16_t VK_DELETE = 46;
// '0'..'9' are 48..57 and 'A'..'Z' are 65..90, as in ASCII.
constexpr std::uint16_t VK_LWIN = 91;
constexpr std::uint16_t VK_RWIN = 92;
constexpr std::uint16_t VK_APPS = 93;
constexpr std::uint16_t VK_NUMPAD0 = 96;
constexpr std::uint16_t VK_MULTIPLY = 106;
constexpr std::uint16_t VK_ADD = 107;
constexpr std::uint16_t VK_SUBTRACT = 109;
constexpr std::uint16_t VK_DECIMAL = 110;
constexpr std::uint16_t VK_DIVIDE = 111;
constexpr std::uint16_t VK_F1 = 112;  // up to VK_F24 = 135
constexpr std::uint16_t VK_NUMLOCK = 144;
constexpr std::uint16_t VK_SCROLL = 145;
constexpr std::uint16_t VK_OEM_1 = 186;       // ;
constexpr std::uint16_t VK_OEM_PLUS = 187;    // =
constexpr std::uint16_t VK_OEM_COMMA = 188;   // ,
constexpr std::uint16_t VK_OEM_MINUS = 189;   // -
constexpr std::uint16_t VK_OEM_PERIOD = 190;  // .
constexpr std::uint16_t VK_OEM_2 = 191;       // /
constexpr std::uint16_t VK_OEM_3 = 192;       // `
constexpr std::uint16_t VK_OEM_4 = 219;       // [
constexpr std::uint16_t VK_OEM_5 = 220;       // backslash
constexpr std::uint16_t VK_OEM_6 = 221;       // ]
constexpr std::uint16_t VK_OEM_7 = 222;       // '

// The virtual key of an X keysym, 0 for keys that have none. Letters map to
// their capital whatever the case of the keysym.
constexpr std::uint16_t VirtualKeyFromKeysym(unsigned long keysym)
{
    if (keysym >= XK_a && keysym <= XK_z)
        return static_cast<std::uint16_t>('A' + (keysym - XK_a));
    if (keysym >= XK_A && keysym <= XK_Z)
        return static_cast<std::uint16_t>('A' + (keysym - XK_A));
    if (keysym >= XK_0 && keysym <= XK_9)
        return static_cast<std::uint16_t>('0' + (keysym - XK_0));
    if (keysym >= XK_F1 && keysym <= XK_F24)
        return static_cast<std::uint16_t>(VK_F1 + (keysym - XK_F1));
    if (keysym >= XK_KP_0 && keysym <= XK_KP_9)
        return static_cast<std::uint16_t>(VK_NUMPAD0 + (keysym - XK_KP_0));
    switch (keysym) {
    case XK_BackSpace: return VK_BACK;
    case XK_Tab: case XK_ISO_Left_Tab: return VK_TAB;
    case XK_Return: case XK_KP_Enter: return VK_RETURN;
    case XK_Shift_L: case XK_Shift_R: return VK_SHIFT;
    case XK_Control_L: case XK_Control_R: return VK_CONTROL;
    case XK_Alt_L: case XK_Alt_R: case XK_Meta_L: case XK_Meta_R: return VK_MENU;
    case XK_Pause: return VK_PAUSE;
    case XK_Caps_Lock: return VK_CAPITAL;
    case XK_Escape: return VK_ESCAPE;
    case XK_space: case XK_KP_Space: return VK_SPACE;
    case XK_Prior: case XK_KP_Prior: return VK_PRIOR;
    case XK_Next: case XK_KP_Next: return VK_NEXT;
    case XK_End: case XK_KP_End: return VK_END;
    case XK_Home: case XK_KP_Home: return VK_HOME;
    case XK_Left: case XK_KP_Left: return VK_LEFT;
    case XK_Up: case XK_KP_Up: return VK_UP;
    case XK_Right: case XK_KP_Right: return VK_RIGHT;
    case XK_Down: case XK_KP_Down: return VK_DOWN;
    case XK_Print: return VK_SNAPSHOT;
    case XK_Insert: case XK_KP_Insert: return VK_INSERT;
    case XK_Delete: case XK_KP_Delete: return VK_DELETE;
    case XK_Super_L: return VK_LWIN;
    case XK_Super_R: return VK_RWIN;
    case XK_Menu: return VK_APPS;
    case XK_KP_Multiply: return VK_MULTIPLY;
    case XK_KP_Add: return VK_ADD;
    case XK_KP_Subtract: return VK_SUBTRACT;
    case XK_KP_Decimal: return VK_DECIMAL;
    case XK_KP_Divide: return VK_DIVIDE;
    case XK_Num_Lock: return VK_NUMLOCK;
    case XK_Scroll_Lock: return VK_SCROLL;
    case XK_semicolon: return VK_OEM_1;
    case XK_equal: return VK_OEM_PLUS;
    case XK_comma: return VK_OEM_COMMA;
    case XK_minus: return VK_OEM_MINUS;
    case XK_period: return VK_OEM_PERIOD;
    case XK_slash: return VK_OEM_2;
    case XK_grave: return VK_OEM_3;
    case XK_bracketleft: return VK_OEM_4;
    case XK_backslash: return VK_OEM_5;
    case XK_bracketright: return VK_OEM_6;
    case XK_apostrophe: return VK_OEM_7;
    default: return 0;
    }
}

} // namespace vendrake
