#include "app/SAMvcViewFrmText.h"

#include "app/SAUtilArtwork.h"
#include "core/SALog.h"
#include "settings/SASettings.h"

#include <QImage>
#include <QLabel>
#include <QPainter>

SAMvcViewFrmText::SAMvcViewFrmText(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("SAMvcViewFrmText"));
    m_pBanner = new QLabel(this);
    m_pLogo = new QLabel(this);
    m_pCustomer = new QLabel(this);
    m_pCustomer->hide();
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(25);
    font.setWeight(QFont::DemiBold);
    for (QLabel*& line : m_pLines)
    {
        line = new QLabel(this);
        line->setFont(font);
    }
    PrivateLineColoursApply();
}

void SAMvcViewFrmText::OnAppOneTimeInitialization()
{
    m_pLogo->setPixmap(SAUtilArtworkPixmap(QStringLiteral("logo"), QSize(200, 200)));
    PrivateLayout();
    update();
}

QLabel* SAMvcViewFrmText::LineGet(int line) const
{
    if (line < 1 || line > SA_FRAME_STATUS_LINE_COUNT)
        return nullptr;
    return m_pLines[line - 1];
}

void SAMvcViewFrmText::LineTextSet(int line, const QString& text)
{
    if (QLabel* label = LineGet(line))
        label->setText(text);
    else
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmText::LineTextSet failed! line:%d\n", line);
}

void SAMvcViewFrmText::LineShow(int line, bool show)
{
    if (QLabel* label = LineGet(line))
        label->setVisible(show);
    else
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmText::LineShow failed! line:%d\n", line);
}

void SAMvcViewFrmText::PrivateLayout()
{
    const QRect client = rect();
    m_pBanner->setGeometry(0, 0, client.width(), 200);
    m_pBanner->setPixmap(SAUtilArtworkPixmap(QStringLiteral("banner"), QSize(client.width(), 200)));
    m_pLogo->setGeometry((client.left() + 200) / 2, 0, 200, 200);
    for (int i = 0; i < SA_FRAME_STATUS_LINE_COUNT; ++i)
        m_pLines[i]->setGeometry(client.left() + 10, client.top() + 222 + 40 * i, client.width(), 40);
}

void SAMvcViewFrmText::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    PrivateLayout();
}

void SAMvcViewFrmText::PrivateLineColoursApply()
{
    const QString style = m_CustomerLogoShown ? QStringLiteral("color: black; background: white;")
                                              : QStringLiteral("color: white; background: transparent;");
    for (QLabel* line : m_pLines)
        line->setStyleSheet(style);
}

void SAMvcViewFrmText::PrivateCustomerLogoLoad()
{
    const bool wanted = SASettings::SettingsOptionEnableGet(SA_SETTINGS_CUSTOMER_SPECIFIC_02) &&
                        SASettings::SettingsOptionEnableGet(SA_SETTINGS_LOGO_ENABLE);
    bool shown = false;
    if (wanted)
    {
        std::string name;
        if (SASettings::LogoFileNameGet(name))
        {
            QImage image;
            if (!image.load(QString::fromStdString(name)))
            {
                SALog(SA_LOG_FAILURE, "SAMvcViewFrmText::OnEraseBkgnd CImage::Load failed!\n");
            }
            else
            {
                const QSize size(width(), std::max(1, height() - 200));
                if (size != m_CustomerLogoSize || !m_pCustomer->isVisible())
                {
                    m_pCustomer->setPixmap(QPixmap::fromImage(
                        image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
                    // 10 pixels below the space it is scaled to: its last
                    // rows fall below the view, as the layout has always put it.
                    m_pCustomer->setGeometry(0, 210, size.width(), size.height());
                    m_CustomerLogoSize = size;
                }
                shown = true;
            }
        }
        else
        {
            // No readable file name: the logo stays off from now on.
            SASettings::SettingsOptionEnableSet(SA_SETTINGS_LOGO_ENABLE, false);
        }
    }
    m_pCustomer->setVisible(shown);
    if (shown != m_CustomerLogoShown)
    {
        m_CustomerLogoShown = shown;
        PrivateLineColoursApply();
    }
}

void SAMvcViewFrmText::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    PrivateCustomerLogoLoad();
}
