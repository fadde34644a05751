#pragma once
// The input records that the display view and the keyboard grab hand to the
// state machine (events 9, 10 and 11) by pointer. They keep the fields of
// the raw mouse, low-level keyboard and touch records that the server's
// input packets are defined from, so the packet mapping is a plain copy;
// the input layer fills them from its own events.
#include <cstdint>

// Raw mouse button flags (usButtonFlags).
constexpr uint16_t SA_RI_MOUSE_LEFT_BUTTON_DOWN = 0x0001;
constexpr uint16_t SA_RI_MOUSE_LEFT_BUTTON_UP = 0x0002;
constexpr uint16_t SA_RI_MOUSE_RIGHT_BUTTON_DOWN = 0x0004;
constexpr uint16_t SA_RI_MOUSE_RIGHT_BUTTON_UP = 0x0008;
constexpr uint16_t SA_RI_MOUSE_MIDDLE_BUTTON_DOWN = 0x0010;
constexpr uint16_t SA_RI_MOUSE_MIDDLE_BUTTON_UP = 0x0020;
constexpr uint16_t SA_RI_MOUSE_WHEEL = 0x0400;

// Relative motion record (usFlags 0 = relative motion).
struct SAInputMouseRecord
{
    uint16_t usFlags = 0;
    uint16_t usButtonFlags = 0;
    uint16_t usButtonData = 0; // wheel delta when usButtonFlags has SA_RI_MOUSE_WHEEL
    uint32_t ulRawButtons = 0;
    int32_t lLastX = 0;
    int32_t lLastY = 0;
    uint32_t ulExtraInformation = 0;
};

// Keyboard record flags.
constexpr uint32_t SA_LLKHF_EXTENDED = 0x01;
constexpr uint32_t SA_LLKHF_UP = 0x80;

// One key press or release: Windows virtual-key code, set-1 scan code.
struct SAInputKeyboardRecord
{
    uint32_t vkCode = 0;
    uint32_t scanCode = 0;
    uint32_t flags = 0;
    uint32_t time = 0;
    uintptr_t dwExtraInfo = 0;
};

// Touch point flags (touchFlags).
constexpr uint32_t SA_TOUCHEVENTF_MOVE = 0x1;
constexpr uint32_t SA_TOUCHEVENTF_DOWN = 0x2;
constexpr uint32_t SA_TOUCHEVENTF_UP = 0x4;

// One touch point already mapped to server screen pixels.
struct SAInputTouchRecord
{
    int32_t x = 0;
    int32_t y = 0;
    int32_t resolutionWidth = 0;
    int32_t resolutionHeight = 0;
    uint32_t touchFlags = 0;
    uint8_t absolute = 0; // non-zero: absolute position (touch screen mode)
};
