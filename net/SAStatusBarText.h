#pragma once
// The texts of the eight status bar panes, shared by the Qt status bar and
// the headless tool so both show the same figures.
#include "net/SANetStatistics.h"

#include <array>
#include <cstdint>
#include <string>

constexpr int SA_STATUS_PANE_COUNT = 8;

using SAStatusPaneTexts = std::array<std::string, SA_STATUS_PANE_COUNT>;

// What the renderer reports in its status record.
struct SAStatusRenderer
{
    int32_t m_Status = 0;
    int32_t m_ResolutionX = 0;
    int32_t m_ResolutionY = 0;
    int32_t m_FramesPerSecond = 0;
};

class SAStatusBarText
{
public:
    // The indicator texts, padded with blanks to the widths that size the panes.
    static const SAStatusPaneTexts& IndicatorTextsGet();
    // The texts shown while disconnected ("Loc: -", ..., "Enc:-").
    static const SAStatusPaneTexts& IdleTextsGet();

    // "IP local:a.b.c.d:port" from a host-order address and port.
    static std::string AddressText(const char* label, uint32_t hostOrderAddress, uint16_t port);

    // Megabits per second over a time ring: bytes x 8 / (ms x 1000), 0 when
    // ms is 0. Computed in 64 bits: with 32 bits the product wraps above
    // about 536 MB per 120 frames, which raw 4K streams reach.
    static uint64_t MbpsCompute(uint64_t milliseconds, uint64_t bytes);

    // Panes 2..7 from the renderer's record, the connection statistics and
    // the compression type of the last frame-buffer packet. Panes 0 and 1
    // are left empty (they change only on reaching state 3).
    static SAStatusPaneTexts StatisticsTexts(const SAStatusRenderer& renderer,
                                             const SANetStatisticsSnapshot& net, uint32_t compressionType);

    // "Enc:None", "Enc:YUV", "Enc:Software", "Enc:Hardware" or
    // "Compression Error:unknown".
    static std::string CompressionText(uint32_t compressionType);
};
