#pragma once
// A connection to a real X display that fails softly. Xlib's defaults end
// the whole process on an X error and when the display goes away (the user
// logs out, the X server ends): for a server that is the end of every other
// connection, audio included, and of the listener the viewer would come back
// to.
#include <X11/Xlib.h>

#include <mutex>
#include <string>

// Opens `display` (empty: $DISPLAY) for `user`, the name in the log. An X
// error is logged and fails only the call that caused it. When the display
// is lost, *lost becomes true and every later call on it returns at once;
// the caller ends what it does with it and still closes it. Null (logged)
// when it cannot be opened.
Display* PeerX11DisplayOpen(const std::string& display, const char* user, bool* lost);

// libXext keeps one list of displays per extension for the whole process,
// and a display's first use of an extension adds it while XCloseDisplay
// takes it out; threads that open and close displays at once corrupted the
// heap. Held from XOpenDisplay through the extensions' set-up, and around
// every XCloseDisplay.
std::mutex& PeerX11DisplayLock();
