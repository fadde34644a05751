#include "pipeline/SAPipelineOptions.h"

std::atomic<bool> SAPipelineOptions::s_ScreenUpdateRectanglesOnly{false};
std::atomic<bool> SAPipelineOptions::s_TraceH264Nalu{false};
std::atomic<bool> SAPipelineOptions::s_SaveEncodedFrames{false};

#include "pipeline/SADecodeTarget.h"

thread_local int32_t SADecodeTarget::s_FragmentIndexCurrent = 0;
