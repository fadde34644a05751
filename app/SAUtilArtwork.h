#pragma once
// The application's artwork: SVG sources compiled in as Qt resources and
// rendered at the size each place needs, so they stay sharp at any scale.
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

// name: "banner", "logo", "lookup" or "app".
QPixmap SAUtilArtworkPixmap(const QString& name, const QSize& size);
QIcon SAUtilArtworkIcon(const QString& name);
