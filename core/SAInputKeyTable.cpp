#include "core/SAInputKeyTable.h"

#include <linux/input-event-codes.h>

#include <iterator>

namespace
{
struct Entry
{
    uint16_t Evdev;
    uint16_t VKeyCode;
    uint16_t ScanCode;
    bool Extended;
};

// Main block, function keys, modifiers, the navigation block and the
// keypad operators. For the keys of the original PC keyboard the evdev code
// is the set-1 scan code, which the entries keep visible.
constexpr Entry TABLE[] = {
    {KEY_ESC, 0x1B, 0x01, false},
    {KEY_1, '1', 0x02, false},
    {KEY_2, '2', 0x03, false},
    {KEY_3, '3', 0x04, false},
    {KEY_4, '4', 0x05, false},
    {KEY_5, '5', 0x06, false},
    {KEY_6, '6', 0x07, false},
    {KEY_7, '7', 0x08, false},
    {KEY_8, '8', 0x09, false},
    {KEY_9, '9', 0x0A, false},
    {KEY_0, '0', 0x0B, false},
    {KEY_MINUS, 0xBD, 0x0C, false}, // VK_OEM_MINUS
    {KEY_EQUAL, 0xBB, 0x0D, false}, // VK_OEM_PLUS
    {KEY_BACKSPACE, 0x08, 0x0E, false},
    {KEY_TAB, 0x09, 0x0F, false},
    {KEY_Q, 'Q', 0x10, false},
    {KEY_W, 'W', 0x11, false},
    {KEY_E, 'E', 0x12, false},
    {KEY_R, 'R', 0x13, false},
    {KEY_T, 'T', 0x14, false},
    {KEY_Y, 'Y', 0x15, false},
    {KEY_U, 'U', 0x16, false},
    {KEY_I, 'I', 0x17, false},
    {KEY_O, 'O', 0x18, false},
    {KEY_P, 'P', 0x19, false},
    {KEY_LEFTBRACE, 0xDB, 0x1A, false},  // VK_OEM_4
    {KEY_RIGHTBRACE, 0xDD, 0x1B, false}, // VK_OEM_6
    {KEY_ENTER, 0x0D, 0x1C, false},
    {KEY_LEFTCTRL, SA_VK_LCONTROL, 0x1D, false},
    {KEY_A, 'A', 0x1E, false},
    {KEY_S, 'S', 0x1F, false},
    {KEY_D, 'D', 0x20, false},
    {KEY_F, 'F', 0x21, false},
    {KEY_G, 'G', 0x22, false},
    {KEY_H, 'H', 0x23, false},
    {KEY_J, 'J', 0x24, false},
    {KEY_K, 'K', 0x25, false},
    {KEY_L, 'L', 0x26, false},
    {KEY_SEMICOLON, 0xBA, 0x27, false},  // VK_OEM_1
    {KEY_APOSTROPHE, 0xDE, 0x28, false}, // VK_OEM_7
    {KEY_GRAVE, 0xC0, 0x29, false},      // VK_OEM_3
    {KEY_LEFTSHIFT, SA_VK_LSHIFT, 0x2A, false},
    {KEY_BACKSLASH, 0xDC, 0x2B, false}, // VK_OEM_5
    {KEY_Z, 'Z', 0x2C, false},
    {KEY_X, 'X', 0x2D, false},
    {KEY_C, 'C', 0x2E, false},
    {KEY_V, 'V', 0x2F, false},
    {KEY_B, 'B', 0x30, false},
    {KEY_N, 'N', 0x31, false},
    {KEY_M, 'M', 0x32, false},
    {KEY_COMMA, 0xBC, 0x33, false}, // VK_OEM_COMMA
    {KEY_DOT, 0xBE, 0x34, false},   // VK_OEM_PERIOD
    {KEY_SLASH, 0xBF, 0x35, false}, // VK_OEM_2
    // The low-level hook reports right SHIFT as extended although set 1
    // sends it without the prefix; the grab removes the flag again.
    {KEY_RIGHTSHIFT, SA_VK_RSHIFT, 0x36, true},
    {KEY_KPASTERISK, 0x6A, 0x37, false}, // VK_MULTIPLY
    {KEY_LEFTALT, SA_VK_LMENU, 0x38, false},
    {KEY_SPACE, 0x20, 0x39, false},
    {KEY_CAPSLOCK, 0x14, 0x3A, false},
    {KEY_F1, 0x70, 0x3B, false},
    {KEY_F2, 0x71, 0x3C, false},
    {KEY_F3, 0x72, 0x3D, false},
    {KEY_F4, 0x73, 0x3E, false},
    {KEY_F5, 0x74, 0x3F, false},
    {KEY_F6, 0x75, 0x40, false},
    {KEY_F7, 0x76, 0x41, false},
    {KEY_F8, 0x77, 0x42, false},
    {KEY_F9, 0x78, 0x43, false},
    {KEY_F10, 0x79, 0x44, false},
    // The same quirk as right SHIFT.
    {KEY_NUMLOCK, SA_VK_NUMLOCK, 0x45, true},
    {KEY_SCROLLLOCK, 0x91, 0x46, false},
    {KEY_KPMINUS, 0x6D, 0x4A, false}, // VK_SUBTRACT
    {KEY_KPPLUS, 0x6B, 0x4E, false},  // VK_ADD
    {KEY_102ND, 0xE2, 0x56, false},   // VK_OEM_102
    {KEY_F11, 0x7A, 0x57, false},
    {KEY_F12, 0x7B, 0x58, false},
    {KEY_F13, 0x7C, 0x64, false},
    {KEY_F14, 0x7D, 0x65, false},
    {KEY_F15, 0x7E, 0x66, false},
    {KEY_F16, 0x7F, 0x67, false},
    {KEY_F17, 0x80, 0x68, false},
    {KEY_F18, 0x81, 0x69, false},
    {KEY_F19, 0x82, 0x6A, false},
    {KEY_F20, 0x83, 0x6B, false},
    {KEY_F21, 0x84, 0x6C, false},
    {KEY_F22, 0x85, 0x6D, false},
    {KEY_F23, 0x86, 0x6E, false},
    {KEY_F24, 0x87, 0x76, false},
    {KEY_KPENTER, 0x0D, 0x1C, true},
    {KEY_RIGHTCTRL, SA_VK_RCONTROL, 0x1D, true},
    {KEY_KPSLASH, 0x6F, 0x35, true}, // VK_DIVIDE
    {KEY_SYSRQ, 0x2C, 0x37, true},   // VK_SNAPSHOT
    {KEY_RIGHTALT, SA_VK_RMENU, 0x38, true},
    {KEY_HOME, 0x24, 0x47, true},
    {KEY_UP, 0x26, 0x48, true},
    {KEY_PAGEUP, 0x21, 0x49, true},
    {KEY_LEFT, 0x25, 0x4B, true},
    {KEY_RIGHT, 0x27, 0x4D, true},
    {KEY_END, 0x23, 0x4F, true},
    {KEY_DOWN, 0x28, 0x50, true},
    {KEY_PAGEDOWN, 0x22, 0x51, true},
    {KEY_INSERT, 0x2D, 0x52, true},
    {KEY_DELETE, 0x2E, 0x53, true},
    {KEY_MUTE, 0xAD, 0x20, true},
    {KEY_VOLUMEDOWN, 0xAE, 0x2E, true},
    {KEY_VOLUMEUP, 0xAF, 0x30, true},
    // PAUSE is sent as E1 1D 45 by the keyboard; the hook reports scan code
    // 0x45 without the extended flag.
    {KEY_PAUSE, 0x13, 0x45, false},
    {KEY_LEFTMETA, 0x5B, 0x5B, true},     // VK_LWIN
    {KEY_RIGHTMETA, 0x5C, 0x5C, true},    // VK_RWIN
    {KEY_COMPOSE, 0x5D, 0x5D, true},      // VK_APPS
    {KEY_NEXTSONG, 0xB0, 0x19, true},     // VK_MEDIA_NEXT_TRACK
    {KEY_PREVIOUSSONG, 0xB1, 0x10, true}, // VK_MEDIA_PREV_TRACK
    {KEY_STOPCD, 0xB2, 0x24, true},       // VK_MEDIA_STOP
    {KEY_PLAYPAUSE, 0xB3, 0x22, true},    // VK_MEDIA_PLAY_PAUSE
    // Keys of the Brazilian, Japanese and Korean keyboards, which would
    // otherwise be lost: taken by the grab and sent nowhere.
    {KEY_RO, 0xC1, 0x73, false},       // VK_ABNT_C1 (JIS: backslash, underscore)
    {KEY_KPCOMMA, 0xC2, 0x7E, false},  // VK_ABNT_C2 (the ABNT2 keypad's point)
    {KEY_YEN, 0xDF, 0x7D, false},      // VK_OEM_8: no key of the US layout (the server maps the scan code)
    {KEY_HENKAN, 0x1C, 0x79, false},   // VK_CONVERT
    {KEY_MUHENKAN, 0x1D, 0x7B, false}, // VK_NONCONVERT
    {KEY_KATAKANAHIRAGANA, 0xF2, 0x70, false}, // VK_OEM_COPY, the JIS layout's hiragana key
    {KEY_HANGEUL, 0x15, 0x72, false},          // VK_HANGUL
    {KEY_HANJA, 0x19, 0x71, false},            // VK_HANJA
};

// Keypad digits and the decimal key: VK with NUM LOCK on, VK with it off.
struct KeypadEntry
{
    uint16_t Evdev;
    uint16_t VKeyNumeric;
    uint16_t VKeyNavigation;
    uint16_t ScanCode;
};

constexpr KeypadEntry KEYPAD[] = {
    {KEY_KP7, 0x67, 0x24, 0x47},   // HOME
    {KEY_KP8, 0x68, 0x26, 0x48},   // UP
    {KEY_KP9, 0x69, 0x21, 0x49},   // PRIOR
    {KEY_KP4, 0x64, 0x25, 0x4B},   // LEFT
    {KEY_KP5, 0x65, 0x0C, 0x4C},   // CLEAR
    {KEY_KP6, 0x66, 0x27, 0x4D},   // RIGHT
    {KEY_KP1, 0x61, 0x23, 0x4F},   // END
    {KEY_KP2, 0x62, 0x28, 0x50},   // DOWN
    {KEY_KP3, 0x63, 0x22, 0x51},   // NEXT
    {KEY_KP0, 0x60, 0x2D, 0x52},   // INSERT
    {KEY_KPDOT, 0x6E, 0x2E, 0x53}, // DECIMAL / DELETE
};
} // namespace

bool SAInputKeyTranslate(uint32_t evdevCode, bool keypadNumeric, SAInputKeyCode& key)
{
    for (const KeypadEntry& entry : KEYPAD)
    {
        if (entry.Evdev == evdevCode)
        {
            key.VKeyCode = keypadNumeric ? entry.VKeyNumeric : entry.VKeyNavigation;
            key.ScanCode = entry.ScanCode;
            key.Extended = false;
            return true;
        }
    }
    for (const Entry& entry : TABLE)
    {
        if (entry.Evdev == evdevCode)
        {
            key.VKeyCode = entry.VKeyCode;
            key.ScanCode = entry.ScanCode;
            key.Extended = entry.Extended;
            return true;
        }
    }
    return false;
}

bool SAInputKeyReverse(uint16_t vKeyCode, uint16_t scanCode, bool extended, uint32_t& evdevCode)
{
    // Scan code 4, virtual-key code 2, extended flag 1: a key must match by
    // scan code or (without one) by virtual-key code, and the best wins.
    int best = 0;
    auto consider = [&](uint16_t evdev, uint16_t vk, uint16_t scan, bool ext)
    {
        const bool scanMatch = scanCode != 0 && scan == scanCode;
        const bool vkMatch = vk == vKeyCode;
        if (!(scanMatch || (scanCode == 0 && vkMatch)))
        {
            return;
        }
        const int score = (scanMatch ? 4 : 0) + (vkMatch ? 2 : 0) + (ext == extended ? 1 : 0);
        if (score > best)
        {
            best = score;
            evdevCode = evdev;
        }
    };
    for (const KeypadEntry& entry : KEYPAD)
    {
        consider(entry.Evdev, entry.VKeyNumeric, entry.ScanCode, false);
        consider(entry.Evdev, entry.VKeyNavigation, entry.ScanCode, false);
    }
    for (const Entry& entry : TABLE)
    {
        consider(entry.Evdev, entry.VKeyCode, entry.ScanCode, entry.Extended);
    }
    return best > 0;
}
