#pragma once
// The full-screen "X" button. It is repainted before every presented frame,
// so its picture is drawn by the style once per look (size, state, palette,
// text) and kept: each repaint then only copies 25 x 25 pixels instead of
// laying out the text and stroking the bevel again, sixty times a second.
//
// Threads: GUI thread only.
#include <QPixmap>
#include <QPushButton>
#include <QStyle>

class SAWndCtrlXButton : public QPushButton
{
public:
    explicit SAWndCtrlXButton(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct PrivateLook
    {
        QStyle::State State;
        QSize Size;
        qreal Ratio = 0.0;
        qint64 Palette = 0;
        QString Text;
        const QStyle* Style = nullptr;
        bool operator==(const PrivateLook&) const = default;
    };
    PrivateLook m_Look;
    QPixmap m_Picture;
};
