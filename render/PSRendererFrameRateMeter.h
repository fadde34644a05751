#pragma once
// The frame-rate meter of the status bar: a ring of the present times of the
// last 50 frames. The rate is 1000 / (d / 49) frames per second where d is the
// time from the oldest to the newest stamp in the ring (integer arithmetic on
// wrapping 32-bit milliseconds), and 0 while d is below 49 ms. The ring starts
// at zero, so the first 49 frames after start measure from time 0.
//
// Not locked: its owner calls it under its status lock.
#include <cstdint>

class PSRendererFrameRateMeter
{
public:
    static constexpr int STAMP_COUNT = 50;

    // Stores one present time and returns the frames per second.
    int Stamp(uint32_t milliseconds);

private:
    uint32_t m_Stamps[STAMP_COUNT] = {};
    int m_Next = 0;
};
