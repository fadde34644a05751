#include "peer/PeerInjectX11.h"

#include "core/SAInputKeyTable.h"
#include "core/SALog.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cstdlib>

namespace
{
// Wire button flags and the X button each one presses or releases.
struct ButtonFlag
{
    uint32_t Flag;
    unsigned Button;
    bool Down;
};
constexpr ButtonFlag BUTTONS[] = {
    {0x0002, 1, true},  {0x0004, 1, false}, {0x0008, 3, true},
    {0x0010, 3, false}, {0x0020, 2, true},  {0x0040, 2, false},
};
constexpr uint32_t WHEEL = 0x0800;
// One notch of a wheel.
constexpr int WHEEL_DELTA = 120;
// X key codes are the kernel's key codes plus 8.
constexpr uint32_t X_KEYCODE_OFFSET = 8;

// A refused request (a key code the server lacks) must not end the whole
// server, as Xlib's default handler would.
int PrivateErrorLog(Display* display, XErrorEvent* event)
{
    char text[128] = {};
    XGetErrorText(display, event->error_code, text, sizeof(text));
    SALog(SA_LOG_FAILURE, "PeerInjectX11 failed! X error %d (%s) request %d.%d\n", event->error_code, text,
          event->request_code, event->minor_code);
    return 0;
}
} // namespace

PeerInjectX11::PeerInjectX11() = default;

PeerInjectX11::~PeerInjectX11()
{
    if (m_pDisplay != nullptr)
    {
        XCloseDisplay(static_cast<Display*>(m_pDisplay));
    }
}

bool PeerInjectX11::Open(const std::string& display)
{
    XSetErrorHandler(PrivateErrorLog);
    Display* dpy = XOpenDisplay(display.empty() ? nullptr : display.c_str());
    if (dpy == nullptr)
    {
        SALog(SA_LOG_FAILURE, "PeerInjectX11::Open failed! XOpenDisplay %s\n", display.c_str());
        return false;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(dpy, &eventBase, &errorBase, &major, &minor))
    {
        SALog(SA_LOG_FAILURE, "PeerInjectX11::Open failed! XTEST missing on %s\n", DisplayString(dpy));
        XCloseDisplay(dpy);
        return false;
    }
    m_pDisplay = dpy;
    return true;
}

bool PeerInjectX11::PrivateMoveTo(int x, int y)
{
    Display* dpy = static_cast<Display*>(m_pDisplay);
    const int screen = DefaultScreen(dpy);
    x = std::clamp(x, 0, DisplayWidth(dpy, screen) - 1);
    y = std::clamp(y, 0, DisplayHeight(dpy, screen) - 1);
    return XTestFakeMotionEvent(dpy, screen, x, y, CurrentTime) != 0;
}

bool PeerInjectX11::MouseApply(int32_t x, int32_t y, uint32_t buttonData, uint32_t buttonFlags)
{
    Display* dpy = static_cast<Display*>(m_pDisplay);
    if (dpy == nullptr)
    {
        return false;
    }
    bool done = true;
    if (x != 0 || y != 0)
    {
        // The viewer sends the mouse's own counts: applied one to one from
        // where the pointer is, so the server's acceleration is not applied
        // on top of the viewer machine's.
        Window root = 0, child = 0;
        int rootX = 0, rootY = 0, winX = 0, winY = 0;
        unsigned mask = 0;
        XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &rootX, &rootY, &winX, &winY, &mask);
        done = PrivateMoveTo(rootX + x, rootY + y);
    }
    for (const ButtonFlag& button : BUTTONS)
    {
        if ((buttonFlags & button.Flag) != 0)
        {
            done = XTestFakeButtonEvent(dpy, button.Button, button.Down, CurrentTime) != 0 && done;
        }
    }
    if ((buttonFlags & WHEEL) != 0)
    {
        const int delta = static_cast<int16_t>(buttonData & 0xFFFF);
        // Away from the user (positive) is X button 4, towards it 5; a
        // smooth wheel's part notch still turns one.
        const unsigned wheelButton = delta > 0 ? 4 : 5;
        const int notches = std::max(1, std::abs(delta) / WHEEL_DELTA);
        for (int i = 0; delta != 0 && i < notches; ++i)
        {
            done = XTestFakeButtonEvent(dpy, wheelButton, True, CurrentTime) != 0 && done;
            done = XTestFakeButtonEvent(dpy, wheelButton, False, CurrentTime) != 0 && done;
        }
    }
    XFlush(dpy);
    return done;
}

bool PeerInjectX11::KeyboardApply(uint32_t vKeyCode, uint32_t scanCode, uint32_t flags)
{
    Display* dpy = static_cast<Display*>(m_pDisplay);
    uint32_t evdev = 0;
    if (dpy == nullptr || !SAInputKeyReverse(static_cast<uint16_t>(vKeyCode), static_cast<uint16_t>(scanCode),
                                             (flags & 0x1) != 0, evdev))
    {
        SALog(SA_LOG_FAILURE,
              "PeerInjectX11::KeyboardApply failed! Unknown key vk:0x%x scan:0x%x flags:0x%x\n", vKeyCode,
              scanCode, flags);
        return false;
    }
    const bool done =
        XTestFakeKeyEvent(dpy, evdev + X_KEYCODE_OFFSET, (flags & 0x2) != 0 ? False : True, CurrentTime) != 0;
    XFlush(dpy);
    return done;
}

bool PeerInjectX11::TouchApply(int32_t x, int32_t y, int32_t resolutionWidth, int32_t resolutionHeight,
                               uint32_t flags)
{
    Display* dpy = static_cast<Display*>(m_pDisplay);
    if (dpy == nullptr || resolutionWidth <= 0 || resolutionHeight <= 0)
    {
        return false;
    }
    // The viewer places the point on the screen size it was last sent; the
    // screen may have changed its size since.
    const int screen = DefaultScreen(dpy);
    const int64_t sx = static_cast<int64_t>(x) * DisplayWidth(dpy, screen) / resolutionWidth;
    const int64_t sy = static_cast<int64_t>(y) * DisplayHeight(dpy, screen) / resolutionHeight;
    bool done = PrivateMoveTo(static_cast<int>(std::clamp<int64_t>(sx, 0, 1 << 20)),
                              static_cast<int>(std::clamp<int64_t>(sy, 0, 1 << 20)));
    if ((flags & 0x2) != 0)
    {
        done = XTestFakeButtonEvent(dpy, 1, True, CurrentTime) != 0 && done;
    }
    if ((flags & 0x4) != 0)
    {
        done = XTestFakeButtonEvent(dpy, 1, False, CurrentTime) != 0 && done;
    }
    XFlush(dpy);
    return done;
}
