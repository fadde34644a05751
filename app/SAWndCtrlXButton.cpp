#include "app/SAWndCtrlXButton.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

#ifdef QM_APP_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#endif

SAWndCtrlXButton::SAWndCtrlXButton(QWidget* parent) : QPushButton(QStringLiteral("X"), parent) {}

SAWndCtrlXButton::~SAWndCtrlXButton() = default;

void SAWndCtrlXButton::Redraw()
{
    // A window made anew (the toolkit may recreate it) has no such
    // background: the toolkit repaints it, and that paint gives it one.
    if (m_ServerBackground && m_ServerWindow == internalWinId())
    {
#ifdef QM_APP_HAVE_XCB
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        // Width and height 0: the whole window, from its background. The
        // toolkit flushes its connection before the thread next waits, so
        // the redraws of a burst of status refreshes go out in one write.
        xcb_clear_area(x11->connection(), 0, static_cast<xcb_window_t>(winId()), 0, 0, 0, 0);
        return;
#endif
    }
    update(rect());
}

void SAWndCtrlXButton::paintEvent(QPaintEvent* /*event*/)
{
    QStyleOptionButton option;
    initStyleOption(&option);
    const PrivateLook look{option.state,         option.rect.size(), devicePixelRatioF(),
                           palette().cacheKey(), option.text,        style()};
    if (m_Picture.isNull() || !(look == m_Look))
    {
        // Transparent where the style leaves the background alone, as when
        // the style paints the widget itself.
        QPixmap picture(look.Size * look.Ratio);
        picture.setDevicePixelRatio(look.Ratio);
        picture.fill(Qt::transparent);
        QStylePainter painter(&picture, this);
        painter.drawControl(QStyle::CE_PushButton, option);
        painter.end();
        m_Picture = picture;
        m_Look = look;
        m_ServerWindow = 0;
    }
    if (m_ServerWindow != internalWinId())
    {
        m_ServerWindow = internalWinId();
        m_ServerBackground = PrivateServerBackgroundSet();
    }
    QPainter(this).drawPixmap(option.rect.topLeft(), m_Picture);
}

bool SAWndCtrlXButton::PrivateServerBackgroundSet()
{
#ifdef QM_APP_HAVE_XCB
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || !isWindow() || internalWinId() == 0)
        return false;
    xcb_connection_t* connection = x11->connection();
    const auto window = static_cast<xcb_window_t>(internalWinId());
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
    if (geometry == nullptr)
        return false;
    const uint8_t depth = geometry->depth;
    std::free(geometry);
    // The image goes over as it lies in memory: 32 bits a pixel, blue first.
    const xcb_setup_t* setup = xcb_get_setup(connection);
    bool formatFits = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST && (depth == 24 || depth == 32);
    bool formatFound = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it))
        if (it.data->depth == depth)
        {
            formatFound = true;
            formatFits = formatFits && it.data->bits_per_pixel == 32 && it.data->scanline_pad == 32;
        }
    if (!formatFound || !formatFits)
        return false;

    // What the toolkit shows: the window's background, the picture over it.
    QImage image(m_Picture.size(), QImage::Format_RGB32);
    image.fill(palette().color(backgroundRole()));
    {
        QPainter painter(&image);
        painter.drawPixmap(0, 0, m_Picture);
    }
    const xcb_pixmap_t pixmap = xcb_generate_id(connection);
    const xcb_gcontext_t context = xcb_generate_id(connection);
    xcb_create_pixmap(connection, depth, pixmap, window, static_cast<uint16_t>(image.width()),
                      static_cast<uint16_t>(image.height()));
    xcb_create_gc(connection, context, pixmap, 0, nullptr);
    xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, context,
                  static_cast<uint16_t>(image.width()), static_cast<uint16_t>(image.height()), 0, 0, 0, depth,
                  static_cast<uint32_t>(image.sizeInBytes()), image.constBits());
    xcb_free_gc(connection, context);
    // The window keeps the pixmap for as long as it is its background.
    const uint32_t values[] = {pixmap};
    xcb_change_window_attributes(connection, window, XCB_CW_BACK_PIXMAP, values);
    xcb_free_pixmap(connection, pixmap);
    xcb_flush(connection);
    return true;
#else
    return false;
#endif
}
