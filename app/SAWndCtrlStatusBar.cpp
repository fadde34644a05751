#include "app/SAWndCtrlStatusBar.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>

namespace
{
// Smallest point size the panes go down to (still legible).
constexpr qreal PANE_POINT_SIZE_MIN = 6.0;
// Space between a pane's frame and its text.
constexpr int PANE_INDENT = 2;
// Frame (one pixel each side) and indent on both sides.
constexpr int PANE_EXTRA = 2 * 1 + 2 * PANE_INDENT;

// A pane wants the width of its padded indicator text (or of its text when
// that is wider) and gives way down to the width of its text, trailing
// blanks aside.
class SAStatusPane : public QLabel
{
public:
    SAStatusPane(const QString& indicator, const QFont& font, QWidget* parent)
        : QLabel(indicator, parent), m_Indicator(indicator)
    {
        setFont(font);
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(1);
        setIndent(PANE_INDENT);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }
    int TextWidth(const QString& text) const
    {
        QString shown = text;
        while (shown.endsWith(QLatin1Char(' ')))
            shown.chop(1);
        return fontMetrics().horizontalAdvance(shown) + PANE_EXTRA;
    }
    QSize sizeHint() const override
    {
        const int indicator = fontMetrics().horizontalAdvance(m_Indicator) + PANE_EXTRA;
        return QSize(qMax(indicator, TextWidth(text())), QLabel::sizeHint().height());
    }
    QSize minimumSizeHint() const override { return QSize(TextWidth(text()), QLabel::sizeHint().height()); }

private:
    QString m_Indicator;
};

// The bar's font, made smaller until the padded indicators fit `width`.
QFont PaneFontChoose(const QFont& base, const SAStatusPaneTexts& indicators, int width)
{
    QFont font = base;
    qreal size = base.pointSizeF() > 0 ? base.pointSizeF() : 9.0;
    for (;;)
    {
        font.setPointSizeF(size);
        const QFontMetrics metrics(font);
        int total = 0;
        for (const std::string& indicator : indicators)
            total += metrics.horizontalAdvance(QString::fromStdString(indicator)) + PANE_EXTRA;
        if (total <= width || size - 0.5 < PANE_POINT_SIZE_MIN)
            return font;
        size -= 0.5;
    }
}
} // namespace

SAWndCtrlStatusBar::SAWndCtrlStatusBar(QWidget* parent) : QStatusBar(parent)
{
    setObjectName(QStringLiteral("SAWndCtrlStatusBar"));
    setSizeGripEnabled(false);
    const SAStatusPaneTexts& indicators = SAStatusBarText::IndicatorTextsGet();
    // Room for the bar's own margins within the window width.
    const QFont font = PaneFontChoose(this->font(), indicators, SA_STATUS_BAR_FIT_WIDTH - 8);
    // One row of panes without gaps; what is left over stays empty on the
    // right, as the panes keep their indicator widths.
    auto* row = new QWidget(this);
    row->setObjectName(QStringLiteral("panes"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < SA_STATUS_PANE_COUNT; ++i)
    {
        auto* pane = new SAStatusPane(QString::fromStdString(indicators[i]), font, row);
        pane->setObjectName(QStringLiteral("pane%1").arg(i));
        layout->addWidget(pane);
        m_pPanes[i] = pane;
        m_Texts[i] = pane->text();
    }
    layout->addStretch(1);
    addWidget(row, 1);
}

void SAWndCtrlStatusBar::PaneTextSet(int index, const QString& text)
{
    if (index < 0 || index >= SA_STATUS_PANE_COUNT)
        return;
    m_Texts[index] = text;
    if (!m_Paused)
        PrivatePaneShow(index);
}

void SAWndCtrlStatusBar::PrivatePaneShow(int index)
{
    if (m_pPanes[index]->text() == m_Texts[index])
        return;
    m_pPanes[index]->setText(m_Texts[index]);
    // The pane's wanted and smallest widths follow its text.
    m_pPanes[index]->updateGeometry();
}

QString SAWndCtrlStatusBar::PaneTextGet(int index) const
{
    if (index < 0 || index >= SA_STATUS_PANE_COUNT)
        return QString();
    return m_Texts[index];
}

void SAWndCtrlStatusBar::TextsPause(bool paused)
{
    m_Paused = paused;
    if (paused)
        return;
    for (int i = 0; i < SA_STATUS_PANE_COUNT; ++i)
        PrivatePaneShow(i);
}

QLabel* SAWndCtrlStatusBar::PaneGet(int index) const
{
    if (index < 0 || index >= SA_STATUS_PANE_COUNT)
        return nullptr;
    return m_pPanes[index];
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
