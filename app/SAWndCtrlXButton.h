#pragma once
// The full-screen "X" button. It is repainted before every presented frame,
// so its picture is drawn by the style once per look (size, state, palette,
// text) and kept: each repaint then only copies 25 x 25 pixels instead of
// laying out the text and stroking the bevel again, sixty times a second.
// On X11, where the button is a window of its own, the kept picture is also
// the window's background, and Redraw has the X server paint it from there:
// a toolkit repaint waits for the server at its start and flushes a backing
// store at its end, which at 60 frames a second cost the window thread half
// of what it spends on a stream.
//
// Threads: GUI thread only.
#include <QPixmap>
#include <QPushButton>
#include <QStyle>

class SAWndCtrlXButton : public QPushButton
{
public:
    explicit SAWndCtrlXButton(QWidget* parent = nullptr);
    ~SAWndCtrlXButton() override;

    // Draws the button again before a frame is presented.
    void Redraw();

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
    // Makes the kept picture, on the button's own background, the X
    // window's background; false where that cannot be done (not X11, not a
    // window of its own, a pixel format other than 32 bits).
    bool PrivateServerBackgroundSet();

    PrivateLook m_Look;
    QPixmap m_Picture;
    WId m_ServerWindow = 0;          // the window the background was last set on
    bool m_ServerBackground = false; // and whether that worked
};
