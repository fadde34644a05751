#pragma once
// The frame's status bar: eight panes of connection statistics, each as wide
// as its padded indicator text. Until the first update a pane shows its
// indicator text.
//
// Threads: GUI thread only.
#include "net/SAStatusBarText.h"

#include <QStatusBar>

class QLabel;

class SAWndCtrlStatusBar : public QStatusBar
{
public:
    explicit SAWndCtrlStatusBar(QWidget* parent = nullptr);

    void PaneTextSet(int index, const QString& text);
    QString PaneTextGet(int index) const;
    // State 0: the idle texts.
    void PanesReset();
    // On reaching state 3: "IP local:a.b.c.d:port" and "IP remote:...".
    void AddressesSet(uint32_t localHostOrder, uint16_t localPort, uint32_t remoteHostOrder,
                      uint16_t remotePort);
    // WM_APP+12: panes 2..7.
    void StatisticsSet(const SAStatusRenderer& renderer, const SANetStatisticsSnapshot& net,
                       uint32_t compressionType);

private:
    QLabel* m_pPanes[SA_STATUS_PANE_COUNT] = {};
};
