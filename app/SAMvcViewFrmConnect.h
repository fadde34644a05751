#pragma once
// The connect view: banner, logo, title, the lookup button, a busy progress
// bar and the server tree. Filling the tree from discovery is not part of
// this view yet; until then it shows the placeholder item.
//
// Threads: GUI thread only.
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

class SAMvcViewFrmConnect : public QWidget
{
public:
    explicit SAMvcViewFrmConnect(QWidget* parent = nullptr);

    // WM_APP+1: controls, layout, redraw.
    void OnAppOneTimeInitialization();
    QTreeWidget* TreeGet() const { return m_pTree; }
    QPushButton* LookupButtonGet() const { return m_pLookup; }

    static constexpr const char* PLACEHOLDER_TEXT = "Cannot Detect Primary Machine!";

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void PrivateGuiControlsCreate();
    void PrivateLayout();

    QLabel* m_pBanner = nullptr;
    QLabel* m_pLogo = nullptr;
    QLabel* m_pTitle = nullptr;
    QPushButton* m_pLookup = nullptr;
    QProgressBar* m_pProgress = nullptr;
    QTreeWidget* m_pTree = nullptr;
};
