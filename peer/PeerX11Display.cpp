#include "peer/PeerX11Display.h"

#include "core/SALog.h"

namespace
{
int PrivateErrorLog(Display* display, XErrorEvent* event)
{
    char text[128] = {};
    XGetErrorText(display, event->error_code, text, sizeof(text));
    SALog(SA_LOG_FAILURE, "PeerX11Display failed! X error %d (%s) request %d.%d\n", event->error_code, text,
          event->request_code, event->minor_code);
    return 0;
}

// Called once per display, on the thread whose call found it gone. Xlib then
// calls the display's exit handler, which (unlike the default) returns.
int PrivateLostLog(Display* display)
{
    SALog(SA_LOG_FAILURE, "PeerX11Display failed! the X display %s is gone\n", DisplayString(display));
    return 0;
}

void PrivateLostNote(Display*, void* lost)
{
    *static_cast<bool*>(lost) = true;
}
} // namespace

std::mutex& PeerX11DisplayLock()
{
    static std::mutex lock;
    return lock;
}

Display* PeerX11DisplayOpen(const std::string& display, const char* user, bool* lost)
{
    // Process-wide in Xlib; set before the first display is opened.
    XSetErrorHandler(PrivateErrorLog);
    XSetIOErrorHandler(PrivateLostLog);
    Display* dpy = XOpenDisplay(display.empty() ? nullptr : display.c_str());
    if (dpy == nullptr)
    {
        SALog(SA_LOG_FAILURE, "%s::Open failed! XOpenDisplay %s\n", user, display.c_str());
        return nullptr;
    }
    *lost = false;
    XSetIOErrorExitHandler(dpy, PrivateLostNote, lost);
    return dpy;
}
