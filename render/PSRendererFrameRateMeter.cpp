#include "render/PSRendererFrameRateMeter.h"

int PSRendererFrameRateMeter::Stamp(uint32_t milliseconds)
{
    m_Stamps[m_Next] = milliseconds;
    m_Next = (m_Next + 1) % STAMP_COUNT;
    uint32_t oldest = m_Stamps[m_Next];
    uint32_t span = milliseconds - oldest;
    if (span < STAMP_COUNT - 1)
        return 0;
    return static_cast<int>(1000u / (span / (STAMP_COUNT - 1)));
}
