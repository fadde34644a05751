#pragma once
// Process-wide diagnostic switches of the Advanced settings, read by the
// pipeline at the next resolution set ("Screen update rectangles only") or
// the next packet (the two others). Any thread.
#include <atomic>

struct SAPipelineOptions
{
    // The renderer draws only the update rectangles.
    static std::atomic<bool> s_ScreenUpdateRectanglesOnly;
    // H.264 payloads are traced NAL unit by NAL unit.
    static std::atomic<bool> s_TraceH264Nalu;
    // Ten encoded frames per decoder are saved to "JpegFrames"/"H264Frames".
    static std::atomic<bool> s_SaveEncodedFrames;
};
