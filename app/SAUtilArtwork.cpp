#include "app/SAUtilArtwork.h"

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

QPixmap SAUtilArtworkPixmap(const QString& name, const QSize& size)
{
    QPixmap pixmap(size.expandedTo(QSize(1, 1)));
    pixmap.fill(Qt::transparent);
    SAUtilArtworkResourcesInit();
    QSvgRenderer renderer(QStringLiteral(":/quillmere/%1.svg").arg(name));
    if (renderer.isValid())
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    return pixmap;
}

QIcon SAUtilArtworkIcon(const QString& name)
{
    QIcon icon;
    for (int side : {16, 32, 40, 64, 128})
        icon.addPixmap(SAUtilArtworkPixmap(name, QSize(side, side)));
    return icon;
}
