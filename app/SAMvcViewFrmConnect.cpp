#include "app/SAMvcViewFrmConnect.h"

#include "app/SAUtilArtwork.h"

#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

namespace
{
// The view's green, 0x006129 as a Windows colour value (B, G, R).
const QColor CONNECT_BACKGROUND(0x29, 0x61, 0x00);
} // namespace

SAMvcViewFrmConnect::SAMvcViewFrmConnect(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("SAMvcViewFrmConnect"));
    // Made with the view, so that they are shown with it; the one-time
    // initialisation lays them out.
    PrivateGuiControlsCreate();
}

void SAMvcViewFrmConnect::OnAppOneTimeInitialization()
{
    if (m_pTree == nullptr)
        PrivateGuiControlsCreate();
    PrivateLayout();
    update();
}

void SAMvcViewFrmConnect::PrivateGuiControlsCreate()
{
    m_pBanner = new QLabel(this);
    m_pLogo = new QLabel(this);
    m_pLogo->setPixmap(SAUtilArtworkPixmap(QStringLiteral("logo"), QSize(200, 200)));
    m_pTitle = new QLabel(QStringLiteral("Connect to Primary Machine (Server)"), this);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(25);
    font.setWeight(QFont::DemiBold);
    m_pTitle->setFont(font);
    m_pTitle->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    m_pLookup = new QPushButton(this);
    m_pLookup->setObjectName(QStringLiteral("lookup"));
    m_pLookup->setIcon(SAUtilArtworkIcon(QStringLiteral("lookup")));
    m_pLookup->setIconSize(QSize(32, 32));
    m_pProgress = new QProgressBar(this);
    m_pProgress->setRange(0, 0); // busy: discovery runs for as long as the view is shown
    m_pProgress->setTextVisible(false);
    m_pTree = new QTreeWidget(this);
    m_pTree->setObjectName(QStringLiteral("quillmere Tree View"));
    m_pTree->setHeaderHidden(true);
    m_pTree->setStyleSheet(QStringLiteral("QTreeWidget { background: #D3D3D3; }"));
    auto* placeholder = new QTreeWidgetItem(QStringList(QString::fromUtf8(PLACEHOLDER_TEXT)));
    placeholder->setIcon(0, SAUtilArtworkIcon(QStringLiteral("app")));
    m_pTree->addTopLevelItem(placeholder);
}

void SAMvcViewFrmConnect::PrivateLayout()
{
    if (m_pTree == nullptr)
        return;
    const QRect client = rect();
    const int width = client.width();
    m_pBanner->setGeometry(0, 0, width, 200);
    m_pBanner->setPixmap(SAUtilArtworkPixmap(QStringLiteral("banner"), QSize(width, 200)));
    m_pLogo->setGeometry((client.left() + 200) / 2, 0, 200, 200);
    m_pTitle->setGeometry(client.left() + 10, client.top() + 222, width, 40);
    m_pLookup->setGeometry(client.right() + 1 - 50, client.top() + 222, 40, 40);
    m_pProgress->setGeometry(client.left(), client.top() + 210, width, 2);
    m_pTree->setGeometry(client.left(), client.top() + 272, width, std::max(0, client.height() - 272));
}

void SAMvcViewFrmConnect::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    PrivateLayout();
}

void SAMvcViewFrmConnect::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), CONNECT_BACKGROUND);
}
