#include "app/dialogs/SADisplayModeProviderScreen.h"

#include "core/SALog.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

SADisplayModeProviderScreen::SADisplayModeProviderScreen(QObject* parent) : QObject(parent)
{
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this,
            [this](QScreen* screen) { PrivateScreenTrack(screen); });
    PrivateScreenTrack(QGuiApplication::primaryScreen());
}

SADisplayModeProviderScreen::~SADisplayModeProviderScreen() = default;

bool SADisplayModeProviderScreen::DisplayModeCurrentGet(int32_t& width, int32_t& height)
{
    const uint64_t size = m_Size.load();
    if (size == 0)
        return false;
    width = static_cast<int32_t>(size >> 32);
    height = static_cast<int32_t>(size & 0xFFFFFFFFu);
    return true;
}

void SADisplayModeProviderScreen::PrivateScreenTrack(QScreen* screen)
{
    disconnect(m_GeometryConnection);
    disconnect(m_LogicalDpiConnection);
    disconnect(m_PhysicalDpiConnection);
    disconnect(m_DestroyedConnection);
    m_pScreen = screen;
    if (m_pScreen != nullptr)
    {
        // A change of scale factor arrives as a DPI or geometry change.
        m_GeometryConnection =
            connect(m_pScreen, &QScreen::geometryChanged, this, [this]() { PrivateSizeUpdate(); });
        m_LogicalDpiConnection =
            connect(m_pScreen, &QScreen::logicalDotsPerInchChanged, this, [this]() { PrivateSizeUpdate(); });
        m_PhysicalDpiConnection =
            connect(m_pScreen, &QScreen::physicalDotsPerInchChanged, this, [this]() { PrivateSizeUpdate(); });
        m_DestroyedConnection = connect(m_pScreen, &QObject::destroyed, this,
                                        [this]()
                                        {
                                            m_pScreen = nullptr;
                                            PrivateSizeUpdate();
                                        });
    }
    PrivateSizeUpdate();
}

void SADisplayModeProviderScreen::PrivateSizeUpdate()
{
    if (m_pScreen == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SADisplayModeProviderScreen::PrivateSizeUpdate failed! No primary screen\n");
        m_Size.store(0);
        return;
    }
    const QSize logical = m_pScreen->size();
    const double ratio = m_pScreen->devicePixelRatio();
    const long width = std::lround(logical.width() * ratio);
    const long height = std::lround(logical.height() * ratio);
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX)
    {
        SALog(SA_LOG_FAILURE, "SADisplayModeProviderScreen::PrivateSizeUpdate failed! Size:%ldx%ld\n", width,
              height);
        m_Size.store(0);
        return;
    }
    m_Size.store((static_cast<uint64_t>(width) << 32) | static_cast<uint64_t>(height));
}
