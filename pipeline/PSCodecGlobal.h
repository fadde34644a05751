#pragma once
// Process-wide set-up of libavcodec for the H.264 decoders: whether an H.264
// decoder exists at all, and where libavcodec's own messages go.
//
// Stateless apart from a once-only hook of libavcodec's log callback; every
// function may be called from any thread.

class PSCodecGlobal
{
public:
    // True when libavcodec has an H.264 decoder. False logs
    // "PSCodecGlobal::IsInstalled failed! avcodec_find_decoder h264\n" and
    // every H.264 packet then ends in the initialisation error.
    static bool IsInstalled();

    // Routes libavcodec's messages into the viewer's log (warnings and errors
    // under the codec category 0x100) instead of raw standard error. Called
    // by every decoder before it opens a codec; only the first call acts.
    static void LogRoute();
};
