#pragma once
// The text view: three status lines in a bold Arial-like font over black,
// under the banner and the logo, with an optional customer image when
// "CustomerSpecific02" and "LogoEnable" are both on.
//
// Threads: GUI thread only.
#include "net/SAFrameBase.h"

#include <QWidget>

class QLabel;

class SAMvcViewFrmText : public QWidget
{
public:
    explicit SAMvcViewFrmText(QWidget* parent = nullptr);

    void OnAppOneTimeInitialization();
    // line 1..3
    void LineTextSet(int line, const QString& text);
    void LineShow(int line, bool show);
    QLabel* LineGet(int line) const;
    // True while the customer image is shown (both settings on and the file
    // loaded).
    bool CustomerLogoShownGet() const { return m_CustomerLogoShown; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void PrivateLayout();
    void PrivateCustomerLogoLoad();
    void PrivateLineColoursApply();

    QLabel* m_pBanner = nullptr;
    QLabel* m_pLogo = nullptr;
    QLabel* m_pCustomer = nullptr;
    QLabel* m_pLines[SA_FRAME_STATUS_LINE_COUNT] = {};
    bool m_CustomerLogoShown = false;
    QSize m_CustomerLogoSize;
};
