#include "app/SAUtilArtwork.h"

#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

// The resources live in a static library: nothing registers them unless
// someone asks, so the first use does.
static void SAUtilArtworkResourcesInit()
{
    static const bool done = []
    {
        Q_INIT_RESOURCE(quillmere);
        return true;
    }();
    (void)done;
}

static QPixmap SAUtilArtworkRender(const QString& name, const QSize& size, qreal ratio)
{
    const QSize logical = size.expandedTo(QSize(1, 1));
    QPixmap pixmap(QSize(qRound(logical.width() * ratio), qRound(logical.height() * ratio)));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    SAUtilArtworkResourcesInit();
    QSvgRenderer renderer(QStringLiteral(":/quillmere/%1.svg").arg(name));
    if (renderer.isValid())
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(logical)));
    }
    return pixmap;
}

QPixmap SAUtilArtworkPixmap(const QString& name, const QSize& size)
{
    const qreal ratio = qGuiApp != nullptr ? qGuiApp->devicePixelRatio() : 1.0;
    return SAUtilArtworkRender(name, size, ratio > 0 ? ratio : 1.0);
}

QIcon SAUtilArtworkIcon(const QString& name)
{
    QIcon icon;
    for (int side : {16, 32, 40, 64, 128})
        // Plain pixels: the icon picks (and scales) the size each place needs.
        icon.addPixmap(SAUtilArtworkRender(name, QSize(side, side), 1.0));
    return icon;
}
