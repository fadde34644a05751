#pragma once
// Shared pieces of the H.264 tests: a real libx264 stream from the peer's
// own encoder (PeerEncoder with --codec h264 settings) over the peer's
// synthetic desktop, FrameBuffer packets carrying its access units, and NAL
// unit scanning.
#include "../pipeline/PipelineTestSupport.h"

#include <cstdint>
#include <vector>

struct H264TestUnit
{
    uint32_t FrameNumber = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> AccessUnit;
};

// Frames first..first+count-1 of the peer's desktop at width x height,
// encoded in order by one encoder (the peer's settings: quality, gop).
std::vector<H264TestUnit> H264TestStreamEncode(int32_t width, int32_t height, uint32_t first, uint32_t count,
                                               int quality = 80, int gop = 30);

// The peer's source picture of a frame.
TestImage H264TestSourceFrame(int32_t width, int32_t height, uint32_t frameNumber);

// The best any 4:2:0 path can give for a source picture: the picture through
// TurboJPEG's own 4:2:0 encoding and decoding, no video codec involved.
TestImage H264TestChromaReference(const TestImage& source);

// A smooth picture (slow colour gradients only): chroma subsampling loses
// almost nothing of it, so a conversion error shows plainly in its PSNR.
TestImage H264TestSmoothPicture(int32_t width, int32_t height);

// A FrameBuffer packet as the peer sends one: compression 4, the whole screen
// of screenWidth x screenHeight, quality 80, one fragment.
TestPacket H264TestPacket(const std::vector<uint8_t>& accessUnit, int32_t screenWidth, int32_t screenHeight);

// NAL unit types in order of appearance (Annex B start codes).
std::vector<int> H264TestNalTypes(const std::vector<uint8_t>& accessUnit);
