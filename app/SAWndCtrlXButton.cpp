#include "app/SAWndCtrlXButton.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

SAWndCtrlXButton::SAWndCtrlXButton(QWidget* parent) : QPushButton(QStringLiteral("X"), parent) {}

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
    }
    QPainter(this).drawPixmap(option.rect.topLeft(), m_Picture);
}
