#pragma once
// Translation of Linux key codes (evdev, as the kernel and the X and Wayland
// servers number the keys; an X key code is the evdev code plus 8) into what
// the server's keyboard packet carries: a Windows virtual-key code, a set-1
// hardware scan code and the extended-key flag (the 0xE0 prefix of set 1).
// The table describes a US layout; the server applies its own.
//
// Keys are reported the way the Windows low-level keyboard hook reports
// them, quirks included: right SHIFT and NUM LOCK carry the extended flag
// here, and the keyboard grab clears it before sending (the server expects
// both without it).
//
// No toolkit code: the table is a plain lookup usable from any thread.
#include <cstdint>

// Virtual-key codes the input layer itself looks at.
constexpr uint16_t SA_VK_LSHIFT = 0xA0;
constexpr uint16_t SA_VK_RSHIFT = 0xA1;
constexpr uint16_t SA_VK_LCONTROL = 0xA2;
constexpr uint16_t SA_VK_RCONTROL = 0xA3;
constexpr uint16_t SA_VK_LMENU = 0xA4;
constexpr uint16_t SA_VK_RMENU = 0xA5;
constexpr uint16_t SA_VK_NUMLOCK = 0x90;

struct SAInputKeyCode
{
    uint16_t VKeyCode = 0;
    uint16_t ScanCode = 0;
    bool Extended = false;
};

// evdevCode: the kernel's key code. keypadNumeric: the keypad digits and
// the decimal key produce digits (NUM LOCK on); when false they are the
// navigation keys they double as (non-extended HOME, END, ... as Windows
// reports them). False for a key the table does not know.
bool SAInputKeyTranslate(uint32_t evdevCode, bool keypadNumeric, SAInputKeyCode& key);

// The way back, for a server that applies the keys it receives: the evdev
// code of the key a keyboard packet names. The scan code decides (it names
// the physical key whatever the layout), the virtual-key code and then the
// extended flag choose between keys that share a scan code; right SHIFT and
// NUM LOCK are found without their extended flag too. A packet without a
// scan code is looked up by its virtual-key code. False when nothing fits.
bool SAInputKeyReverse(uint16_t vKeyCode, uint16_t scanCode, bool extended, uint32_t& evdevCode);
