#pragma once
// The "Resolutions" dialog: which resolutions the connect request offers
// (the native one, the "other" one, or both) and the size of the other one.
// The offered sizes themselves come from SAWndDlgResolution (settings/), so
// the native size shown here is the one the connect request will send.
//
// Every control carries its identifier as its object name (e.g. "1011") so
// the main frame's tests and ours can find it. The width and height fields
// 1086 and 1087 are each one read-only field with arrows
// (SAWndSpinBoxStepped); their up-down partners 1088 and 1089 have no widget
// of their own.
//
// Nothing is written until "Apply"; "Cancel" (or Escape) writes nothing.
// Threads: GUI thread only; modal, created on the stack by the menu handler.
#include <QDialog>

#include <cstdint>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class SAWndSpinBoxStepped;

class SAWndDlgResolutionDialog : public QDialog
{
    Q_OBJECT

public:
    enum ControlId : int
    {
        IDC_APPLY = 1,
        IDC_CANCEL = 2,
        IDC_CHECK_NATIVE = 1011,
        IDC_COMBO_OTHER = 1012,
        IDC_EDIT_NATIVE = 1059,
        IDC_CHECK_OTHER = 1070,
        IDC_EDIT_WIDTH = 1086,
        IDC_EDIT_HEIGHT = 1087,
    };

    explicit SAWndDlgResolutionDialog(QWidget* parent);

private:
    void OnInitDialog();
    // Fills the "other" list and sizes its drop-down for the screen's DPI.
    void PrivateComboFill(int32_t nativeWidth, int32_t nativeHeight);
    void PrivateEnableStatesUpdate();
    void OnCbnSelchangeComboResolutionOther(int index);
    void OnDeltaposSpinWidth(int direction);
    void OnDeltaposSpinHeight(int direction);
    void OnBnClickedOk();

    QCheckBox* m_pCheckNative = nullptr; // children of the dialog, owned by Qt
    QLineEdit* m_pEditNative = nullptr;
    QCheckBox* m_pCheckOther = nullptr;
    QComboBox* m_pComboOther = nullptr;
    SAWndSpinBoxStepped* m_pSpinWidth = nullptr;
    SAWndSpinBoxStepped* m_pSpinHeight = nullptr;
    QPushButton* m_pButtonApply = nullptr;
    QPushButton* m_pButtonCancel = nullptr;

    int32_t m_MinWidth = 0;
    int32_t m_MinHeight = 0;
    int32_t m_MaxWidth = 0;
    int32_t m_MaxHeight = 0;
};
