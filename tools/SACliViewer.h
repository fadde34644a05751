#pragma once
// The headless viewer behind quillmere-cli: the viewer's own state machine,
// server client, frame buffer processor and an off-screen renderer, driven
// from a message loop on the calling thread instead of a window.
//
// Threads: Run runs the message loop (the "window thread") on the calling
// thread; the ticker thread only posts ticks; everything else runs on the
// viewer's usual worker threads.
#include <cstdint>
#include <string>

struct SACliOptions
{
    uint32_t m_Address = 0; // host order
    uint64_t m_Frames = 0;  // 0: no limit
    uint32_t m_Seconds = 0; // 0: no limit
    std::string m_Snapshot;
    std::string m_Renderer = "auto"; // auto, gl, cpu
    int32_t m_DisplayWidth = 1920;   // the "native" resolution offered to the server
    int32_t m_DisplayHeight = 1080;
};

class SACliViewer
{
public:
    // Exit status: 0 when the frame count (or, without one, the time) was
    // reached, or the user interrupted a connection that showed frames; 1
    // when the connection failed, or ended before the frame count was
    // reached.
    static int Run(const SACliOptions& options);
    // Called from the SIGINT/SIGTERM handler: asks for a clean disconnect.
    static void InterruptRequest();
};
