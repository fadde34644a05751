#pragma once
// The screen's dots per inch as the system reports them for sizing controls:
// Qt's logical DPI of the primary screen times its device pixel ratio, so a
// screen scaled to 200 % reports 192 like a scaled desktop does.
//
// Threads: GUI thread only (reads QGuiApplication's screens).
#include <cstdint>

// 96 is the DPI at which control sizes are given unscaled.
constexpr int32_t SA_UTIL_DPI_DEFAULT = 96;

// The DPI, or 0 (with a log line) when there is no application or no screen;
// callers then use SA_UTIL_DPI_DEFAULT.
int32_t SAUtilSystemDpiGet();
