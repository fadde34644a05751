#pragma once
// Applies a viewer's input packets to a real X display through the XTEST
// extension: mouse motion, buttons and wheel, keys (Windows virtual-key and
// scan codes turned back into key codes through the viewer's own key table)
// and touch points as absolute pointer motion with the left button.
//
// Used on the connection's receiver thread only (it owns its own connection
// to the X server).
#include <bitset>
#include <cstdint>
#include <string>

struct _XDisplay;

class PeerInjectX11
{
public:
    PeerInjectX11();
    ~PeerInjectX11();
    PeerInjectX11(const PeerInjectX11&) = delete;
    PeerInjectX11& operator=(const PeerInjectX11&) = delete;

    // `display` as for XOpenDisplay (empty: $DISPLAY). False (logged) when
    // the display or XTEST is missing.
    bool Open(const std::string& display);

    // The fields of an InputMouse packet: relative motion, button flags
    // (0x1 move, 0x2/0x4 left down/up, 0x8/0x10 right, 0x20/0x40 middle,
    // 0x800 wheel with the 16-bit signed delta in buttonData).
    bool MouseApply(int32_t x, int32_t y, uint32_t buttonData, uint32_t buttonFlags);
    // InputKeyboard: flags 0x1 extended, 0x2 released.
    bool KeyboardApply(uint32_t vKeyCode, uint32_t scanCode, uint32_t flags);
    // InputTouch: a position on a resolutionWidth x resolutionHeight screen;
    // flags 0x2 down, 0x4 up.
    bool TouchApply(int32_t x, int32_t y, int32_t resolutionWidth, int32_t resolutionHeight, uint32_t flags);
    // Releases the keys and buttons this viewer pressed and has not
    // released. XTEST's presses outlive the client that made them: a viewer
    // that crashed or lost its network would leave the shared desktop with
    // Ctrl or a button held, which its own keyboard cannot undo. Also done
    // on destruction.
    void ReleaseAll();

private:
    // Buttons 1 to 3 are held; the wheel's buttons are pressed and released
    // at once.
    static constexpr unsigned BUTTONS_TRACKED = 3;

    _XDisplay* PrivateDisplayGet() const; // null when not open or lost
    bool PrivateScreenSizeGet(int& width, int& height);
    bool PrivateMoveTo(int64_t x, int64_t y);
    bool PrivateButton(unsigned button, bool down);

    void* m_pDisplay = nullptr; // Display*
    bool m_Lost = false;
    std::bitset<256> m_KeysDown; // by X key code
    std::bitset<BUTTONS_TRACKED> m_ButtonsDown;
    // Wheel movement short of a notch (a smooth wheel, a touchpad sends
    // parts of one), kept until whole notches add up.
    int m_WheelRemainder = 0;
};
