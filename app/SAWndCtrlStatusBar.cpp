#include "app/SAWndCtrlStatusBar.h"

#include <QFontMetrics>
#include <QLabel>

namespace
{
// A pane keeps the width of its padded indicator text whatever it shows,
// without forcing the window to be that wide.
class SAStatusPane : public QLabel
{
public:
    SAStatusPane(const QString& indicator, QWidget* parent) : QLabel(indicator, parent)
    {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        m_Hint = QLabel::sizeHint();
        m_Hint.setWidth(fontMetrics().horizontalAdvance(indicator) + 2 * frameWidth() + 4);
    }
    QSize sizeHint() const override { return m_Hint; }
    QSize minimumSizeHint() const override { return QSize(0, m_Hint.height()); }

private:
    QSize m_Hint;
};
} // namespace

SAWndCtrlStatusBar::SAWndCtrlStatusBar(QWidget* parent) : QStatusBar(parent)
{
    setObjectName(QStringLiteral("SAWndCtrlStatusBar"));
    setSizeGripEnabled(false);
    const SAStatusPaneTexts& indicators = SAStatusBarText::IndicatorTextsGet();
    for (int i = 0; i < SA_STATUS_PANE_COUNT; ++i)
    {
        const QString indicator = QString::fromStdString(indicators[i]);
        auto* pane = new SAStatusPane(indicator, this);
        pane->setObjectName(QStringLiteral("pane%1").arg(i));
        addWidget(pane);
        m_pPanes[i] = pane;
    }
}

void SAWndCtrlStatusBar::PaneTextSet(int index, const QString& text)
{
    if (index >= 0 && index < SA_STATUS_PANE_COUNT)
        m_pPanes[index]->setText(text);
}

QString SAWndCtrlStatusBar::PaneTextGet(int index) const
{
    if (index < 0 || index >= SA_STATUS_PANE_COUNT)
        return QString();
    return m_pPanes[index]->text();
}

void SAWndCtrlStatusBar::PanesReset()
{
    const SAStatusPaneTexts& idle = SAStatusBarText::IdleTextsGet();
    for (int i = 0; i < SA_STATUS_PANE_COUNT; ++i)
        PaneTextSet(i, QString::fromStdString(idle[i]));
}

void SAWndCtrlStatusBar::AddressesSet(uint32_t localHostOrder, uint16_t localPort, uint32_t remoteHostOrder,
                                      uint16_t remotePort)
{
    PaneTextSet(0,
                QString::fromStdString(SAStatusBarText::AddressText("IP local:", localHostOrder, localPort)));
    PaneTextSet(
        1, QString::fromStdString(SAStatusBarText::AddressText("IP remote:", remoteHostOrder, remotePort)));
}

void SAWndCtrlStatusBar::StatisticsSet(const SAStatusRenderer& renderer, const SANetStatisticsSnapshot& net,
                                       uint32_t compressionType)
{
    const SAStatusPaneTexts texts = SAStatusBarText::StatisticsTexts(renderer, net, compressionType);
    for (int i = 2; i < SA_STATUS_PANE_COUNT; ++i)
        PaneTextSet(i, QString::fromStdString(texts[i]));
}
