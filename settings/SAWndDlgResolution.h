#pragma once
// The resolutions the viewer offers a server in its connect request: the
// native one (the primary display's current mode, see SADisplayModeProvider)
// and the "other" one (the stored custom resolution). These are the parts of
// the resolution dialog that need no window; the Qt dialog lives in app/ and
// uses them.
//
// Threads: stateless; callable from any thread (the connect request is built
// on a network worker).
#include <cstdint>

// Entries of the "Other Screen Resolution" list.
constexpr int32_t SA_RESOLUTION_TABLE_COUNT = 28;
// The connect request offers at most two resolutions.
constexpr int32_t SA_RESOLUTION_OFFERED_MAX = 2;

class SAWndDlgResolution
{
public:
    // Index 0: the native resolution; 1: the custom resolution. False (and
    // 0 x 0) for any other index.
    static bool ResolutionGet(int32_t index, int32_t& width, int32_t& height);
    // The current display mode when its area is neither 0 nor above the
    // maximum area; otherwise 1024 x 768, with a log line.
    static void PrivateDisplaySettingsGet(int32_t& width, int32_t& height);
    // The resolutions to offer, by ResolutionType: 0 gives native then
    // other, 1 native only, 2 other only; a negative type offers nothing.
    // Returns the count (0..2) written to widths/heights.
    static int32_t ResolutionsOfferedGet(int32_t widths[SA_RESOLUTION_OFFERED_MAX],
                                         int32_t heights[SA_RESOLUTION_OFFERED_MAX]);
    // Entry `index` (0..27) of the predefined table, in index order.
    static bool ResolutionTableGet(int32_t index, int32_t& width, int32_t& height);
};
