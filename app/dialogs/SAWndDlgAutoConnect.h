#pragma once
// The "Automatic Connect" dialog: what the viewer connects to by itself at
// start-up (off, the first of a list of addresses, or a host name), and the
// customer background image of the text view.
//
// Every choice is written at once (mode, each address added or removed, the
// image switch and file); there is no Cancel that undoes them. Enter and the
// close box finish the dialog: in host name mode the name is stored, or the
// mode is switched off when the name is empty; in address mode an empty list
// switches the mode off; without an image file the image is switched off.
// Escape closes without finishing.
//
// Controls carry their identifiers as object names (e.g. "1080").
// Threads: GUI thread only; modal, created on the stack by the menu handler.
#include <QDialog>

#include <cstdint>

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

class SAWndDlgAutoConnect : public QDialog
{
    Q_OBJECT

public:
    enum ControlId : int
    {
        IDC_RADIO_OFF = 1079,
        IDC_RADIO_IPADDRESS = 1080,
        IDC_RADIO_HOSTNAME = 1081,
        IDC_IPADDRESS = 1060,
        IDC_BUTTON_ADD = 1035,
        IDC_BUTTON_REMOVE = 1096,
        IDC_LIST_IPADDRESS = 1095,
        IDC_EDIT_HOSTNAME = 1003,
        IDC_CHECK_LOGO = 1084,
        IDC_EDIT_LOGO_FILE = 1059,
        IDC_BUTTON_LOGO_SELECT = 1100,
    };
    // Longest text read from an edit. A host name is taken whole up to this
    // length: one the start-up cannot read back switches automatic connect
    // off there, while a cut one would connect to another host.
    static constexpr int TEXT_MAX = 128;

    explicit SAWndDlgAutoConnect(QWidget* parent);

    int32_t ModeGet() const { return m_Mode; }

    void OnBnClickedRadioOff();
    void OnBnClickedRadioIpAddress();
    void OnBnClickedRadioHostName();
    void OnBnClickedButtonListItemIpAddressAdd();
    void OnBnClickedButtonListItemIpAddressRemove();
    void OnBnClickedCheckLogo();
    // The file dialog's choice, written at once (also the test's way in).
    void LogoFileNameChosen(const QString& path);
    // Enter and the close box.
    void OnOK();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void OnInitDialog();
    void PrivateControlsEnable();
    void OnBnClickedButtonLogoSelect();

    int32_t m_Mode = 0;
    QRadioButton* m_pRadioOff = nullptr; // children of the dialog, owned by Qt
    QRadioButton* m_pRadioIpAddress = nullptr;
    QRadioButton* m_pRadioHostName = nullptr;
    QLineEdit* m_pEditIpAddress = nullptr;
    QPushButton* m_pButtonAdd = nullptr;
    QPushButton* m_pButtonRemove = nullptr;
    QListWidget* m_pList = nullptr;
    QLineEdit* m_pEditHostName = nullptr;
    QCheckBox* m_pCheckLogo = nullptr;
    QLineEdit* m_pEditLogoFile = nullptr;
    QPushButton* m_pButtonLogoSelect = nullptr;
};
