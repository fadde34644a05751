#pragma once
// The "Lookup" dialog: the user names one server to look for, by IPv4
// address, by host name, or by picking a recent lookup ("LookUpHostInfoList",
// pairs of host name and address text, most recent first). Each ">" button
// fills the connect view's host info and closes the dialog with OK when its
// input is usable; otherwise the dialog stays open without a message.
//
// Controls carry their identifiers as object names (e.g. "1060").
// Threads: GUI thread only; modal. The host info (borrowed) outlives the dialog.
#include "net/SANetHostInfo.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

constexpr const char* SA_LOOKUP_HOST_INFO_LIST = "LookUpHostInfoList";

class SAWndDlgLookup : public QDialog
{
    Q_OBJECT

public:
    enum ControlId : int
    {
        IDC_IPADDRESS = 1060,
        IDC_BUTTON_IPADDRESS = 1035,
        IDC_EDIT_HOSTNAME = 1003,
        IDC_BUTTON_HOSTNAME = 1078,
        IDC_COMBO_RECENT = 1083,
        IDC_BUTTON_RECENT = 1084,
    };
    // The record holds 127 characters of host name and a terminator.
    static constexpr int HOST_NAME_CHARS_MAX = 127;
    // The recent entry's parts are split into 19 characters and a terminator.
    static constexpr int RECENT_PART_MAX = 19;

    SAWndDlgLookup(SANetHostInfo* hostInfo, QWidget* parent);

    void OnBnClickedButtonIpAddress();
    void OnBnClickedButtonHostName();
    void OnBnClickedButtonRecent();

private:
    void PrivateHostInfoLookUpLoad();
    // Stores a parsed address text into the host info; false when the text
    // is no address or is 0.0.0.0.
    bool OnOK(const QString& addressText);

    SANetHostInfo* m_pHostInfo; // the connect view's; outlives the dialog
    QLineEdit* m_pEditIpAddress = nullptr;
    QLineEdit* m_pEditHostName = nullptr;
    QComboBox* m_pComboRecent = nullptr;
    QPushButton* m_pButtonIpAddress = nullptr;
    QPushButton* m_pButtonHostName = nullptr;
    QPushButton* m_pButtonRecent = nullptr;
};
