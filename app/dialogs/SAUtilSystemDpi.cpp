#include "app/dialogs/SAUtilSystemDpi.h"

#include "core/SALog.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

int32_t SAUtilSystemDpiGet()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SAUtilSystemDpiGet QGuiApplication::primaryScreen failed! %d\n", 0);
        return 0;
    }
    const double dpi = screen->logicalDotsPerInch() * screen->devicePixelRatio();
    if (!(dpi >= 1.0) || dpi > 10000.0)
    {
        SALog(SA_LOG_FAILURE, "SAUtilSystemDpiGet QScreen::logicalDotsPerInch failed! %d\n",
              static_cast<int>(dpi));
        return 0;
    }
    return static_cast<int32_t>(std::lround(dpi));
}
