#pragma once
// The frame's status bar: eight panes of connection statistics. Until the
// first update a pane shows its indicator text.
//
// Pane widths: each pane is as wide as its padded indicator text, as long as
// the bar has room. The panes' font is chosen once so that the eight
// indicator widths fit the viewer's default window width (800 pixels): in
// the bar's usual font they would need about 1000, and the right-hand panes
// would be cut. In a narrower bar, or for a text wider than its indicator
// ("Compression Error:unknown"), a pane shrinks or grows, but never below the
// width of the text it shows, so every text stays whole.
//
// Threads: GUI thread only.
#include "net/SAStatusBarText.h"

#include <QStatusBar>

class QLabel;

// The window width the pane font is chosen for (the default placement).
constexpr int SA_STATUS_BAR_FIT_WIDTH = 800;

class SAWndCtrlStatusBar : public QStatusBar
{
public:
    explicit SAWndCtrlStatusBar(QWidget* parent = nullptr);

    void PaneTextSet(int index, const QString& text);
    // The pane's latest text (shown, or waiting for the end of a pause).
    QString PaneTextGet(int index) const;
    // While paused, new texts are kept but not shown; resuming shows the
    // latest at once. For bursts of refreshes, whose layout and painting
    // would otherwise cost the window thread at each one.
    void TextsPause(bool paused);
    // The pane widget (tests: geometry and font).
    QLabel* PaneGet(int index) const;
    // State 0: the idle texts.
    void PanesReset();
    // On reaching state 3: "IP local:a.b.c.d:port" and "IP remote:...".
    void AddressesSet(uint32_t localHostOrder, uint16_t localPort, uint32_t remoteHostOrder,
                      uint16_t remotePort);
    // WM_APP+12: panes 2..7.
    void StatisticsSet(const SAStatusRenderer& renderer, const SANetStatisticsSnapshot& net,
                       uint32_t compressionType);

private:
    void PrivatePaneShow(int index);

    QLabel* m_pPanes[SA_STATUS_PANE_COUNT] = {};
    QString m_Texts[SA_STATUS_PANE_COUNT];
    bool m_Paused = false;
};
