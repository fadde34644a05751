#pragma once
// Source of the primary display's current mode for the offered resolutions.
// The application installs one that reports the primary screen's size in
// device pixels; tests install a fixed one. Without a provider the query
// fails and the offered native resolution falls back to 1024 x 768.
//
// Threads: DisplayModeCurrentGet is called from whichever thread builds the
// connect request (a network worker), under the provider lock, so an
// implementation must not wait for the UI thread; it should report a size the
// UI thread keeps up to date. ProviderSet waits for a running query, so the
// previous provider may be destroyed as soon as ProviderSet returns.
#include <cstdint>

class SADisplayModeProvider
{
public:
    virtual ~SADisplayModeProvider() = default;
    // Width and height of the primary display in pixels; false when unknown.
    virtual bool DisplayModeCurrentGet(int32_t& width, int32_t& height) = 0;

    // Installs the process-wide provider (borrowed: it must stay alive until
    // replaced or removed with nullptr).
    static void ProviderSet(SADisplayModeProvider* provider);
    // Queries the installed provider; false when there is none or it fails.
    static bool ProviderDisplayModeGet(int32_t& width, int32_t& height);
};
