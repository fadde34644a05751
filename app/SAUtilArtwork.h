#pragma once
// The application's artwork: SVG sources compiled in as Qt resources and
// rendered at the size each place needs, so they stay sharp at any scale.
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

// name: "banner", "logo", "lookup" or "app". `size` is in logical pixels;
// the picture is drawn at the screen's device pixels (the application's
// device pixel ratio) and carries that ratio, so a scaled screen shows it
// as sharp as an unscaled one.
QPixmap SAUtilArtworkPixmap(const QString& name, const QSize& size);
QIcon SAUtilArtworkIcon(const QString& name);
