#include "peer/PeerInjectX11.h"

#include "core/SAInputKeyTable.h"
#include "core/SALog.h"
#include "peer/PeerX11Display.h"

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
} // namespace

PeerInjectX11::PeerInjectX11() = default;

PeerInjectX11::~PeerInjectX11()
{
    if (m_pDisplay != nullptr)
    {
        ReleaseAll();
        std::lock_guard<std::mutex> guard(PeerX11DisplayLock());
        XCloseDisplay(static_cast<Display*>(m_pDisplay));
    }
}

bool PeerInjectX11::Open(const std::string& display)
{
    std::lock_guard<std::mutex> guard(PeerX11DisplayLock());
    Display* dpy = PeerX11DisplayOpen(display, "PeerInjectX11", &m_Lost);
    if (dpy == nullptr)
    {
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

Display* PeerInjectX11::PrivateDisplayGet() const
{
    return m_Lost ? nullptr : static_cast<Display*>(m_pDisplay);
}

bool PeerInjectX11::PrivateScreenSizeGet(int& width, int& height)
{
    // Asked each time: Xlib's own figures keep the size the screen had when
    // this connection opened, and RandR may have changed it since.
    Display* dpy = static_cast<Display*>(m_pDisplay);
    Window root = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    if (!XGetGeometry(dpy, DefaultRootWindow(dpy), &root, &x, &y, &w, &h, &border, &depth) || w == 0 ||
        h == 0)
    {
        return false;
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

bool PeerInjectX11::PrivateMoveTo(int64_t x, int64_t y)
{
    Display* dpy = static_cast<Display*>(m_pDisplay);
    int width = 0, height = 0;
    if (!PrivateScreenSizeGet(width, height))
    {
        return false;
    }
    return XTestFakeMotionEvent(dpy, DefaultScreen(dpy),
                                static_cast<int>(std::clamp<int64_t>(x, 0, width - 1)),
                                static_cast<int>(std::clamp<int64_t>(y, 0, height - 1)), CurrentTime) != 0;
}

bool PeerInjectX11::PrivateButton(unsigned button, bool down)
{
    if (button <= BUTTONS_TRACKED)
    {
        m_ButtonsDown.set(button - 1, down);
    }
    return XTestFakeButtonEvent(static_cast<Display*>(m_pDisplay), button, down ? True : False,
                                CurrentTime) != 0;
}

void PeerInjectX11::ReleaseAll()
{
    Display* dpy = PrivateDisplayGet();
    if (dpy == nullptr || (m_KeysDown.none() && m_ButtonsDown.none()))
    {
        return;
    }
    SALog(SA_LOG_INPUT, "PeerInjectX11::ReleaseAll %zu keys and %zu buttons the viewer left down\n",
          m_KeysDown.count(), m_ButtonsDown.count());
    for (unsigned keycode = 0; keycode < m_KeysDown.size(); ++keycode)
    {
        if (m_KeysDown.test(keycode))
        {
            XTestFakeKeyEvent(dpy, keycode, False, CurrentTime);
        }
    }
    for (unsigned button = 1; button <= BUTTONS_TRACKED; ++button)
    {
        if (m_ButtonsDown.test(button - 1))
        {
            XTestFakeButtonEvent(dpy, button, False, CurrentTime);
        }
    }
    m_KeysDown.reset();
    m_ButtonsDown.reset();
    XFlush(dpy);
}

bool PeerInjectX11::MouseApply(int32_t x, int32_t y, uint32_t buttonData, uint32_t buttonFlags)
{
    Display* dpy = PrivateDisplayGet();
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
        done = PrivateMoveTo(static_cast<int64_t>(rootX) + x, static_cast<int64_t>(rootY) + y);
    }
    for (const ButtonFlag& button : BUTTONS)
    {
        if ((buttonFlags & button.Flag) != 0)
        {
            done = PrivateButton(button.Button, button.Down) && done;
        }
    }
    if ((buttonFlags & WHEEL) != 0)
    {
        const int delta = static_cast<int16_t>(buttonData & 0xFFFF);
        // Away from the user (positive) is X button 4, towards it 5. A
        // smooth wheel sends parts of a notch: they turn it once they add
        // up to one, so a notch's worth never scrolls eight notches' way.
        if ((delta > 0) != (m_WheelRemainder > 0))
            m_WheelRemainder = 0; // turned back: the part left goes
        m_WheelRemainder += delta;
        const int notches = std::abs(m_WheelRemainder) / WHEEL_DELTA;
        const unsigned wheelButton = m_WheelRemainder > 0 ? 4 : 5;
        m_WheelRemainder -= (m_WheelRemainder > 0 ? notches : -notches) * WHEEL_DELTA;
        for (int i = 0; i < notches; ++i)
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
    Display* dpy = PrivateDisplayGet();
    uint32_t evdev = 0;
    if (dpy == nullptr || !SAInputKeyReverse(static_cast<uint16_t>(vKeyCode), static_cast<uint16_t>(scanCode),
                                             (flags & 0x1) != 0, evdev))
    {
        SALog(SA_LOG_FAILURE,
              "PeerInjectX11::KeyboardApply failed! Unknown key vk:0x%x scan:0x%x flags:0x%x\n", vKeyCode,
              scanCode, flags);
        return false;
    }
    const unsigned keycode = evdev + X_KEYCODE_OFFSET;
    const bool down = (flags & 0x2) == 0;
    if (keycode < m_KeysDown.size())
    {
        m_KeysDown.set(keycode, down);
    }
    const bool done = XTestFakeKeyEvent(dpy, keycode, down ? True : False, CurrentTime) != 0;
    XFlush(dpy);
    return done;
}

bool PeerInjectX11::TouchApply(int32_t x, int32_t y, int32_t resolutionWidth, int32_t resolutionHeight,
                               uint32_t flags)
{
    Display* dpy = PrivateDisplayGet();
    int width = 0, height = 0;
    if (dpy == nullptr || resolutionWidth <= 0 || resolutionHeight <= 0 ||
        !PrivateScreenSizeGet(width, height))
    {
        return false;
    }
    // The viewer places the point on the screen size it was last sent; the
    // screen may have changed its size since.
    bool done = PrivateMoveTo(static_cast<int64_t>(x) * width / resolutionWidth,
                              static_cast<int64_t>(y) * height / resolutionHeight);
    if ((flags & 0x2) != 0)
    {
        done = PrivateButton(1, true) && done;
    }
    if ((flags & 0x4) != 0)
    {
        done = PrivateButton(1, false) && done;
    }
    XFlush(dpy);
    return done;
}
