#pragma once
// The "Advanced" dialog (only in the full menu): local host connections, the
// YUV encoding (created disabled), and the process-wide diagnostic switches
// of SAPipelineOptions, which live only as long as the process.
//
// "OK" writes CompressionType back (unchanged unless "YUV" was chosen, so a
// stored 0 stays 0), LocalHostConnectionEnable and the three switches; the
// pipeline picks the switches up by itself ("Screen update rectangles only"
// at the next resolution set, the other two at the next packet). "Cancel"
// changes nothing.
//
// Controls carry their identifiers as object names (e.g. "1014").
// Threads: GUI thread only; modal, created on the stack by the menu handler.
#include <QDialog>

#include <cstdint>

class QCheckBox;
class QPushButton;
class QRadioButton;

class SAWndDlgAdvanced : public QDialog
{
    Q_OBJECT

public:
    enum ControlId : int
    {
        IDC_OK = 1,
        IDC_CANCEL = 2,
        IDC_RADIO_YUV = 1007,
        IDC_CHECK_SCREEN_UPDATE_RECTANGLES = 1011,
        IDC_CHECK_TRACE_H264_NALU = 1012,
        IDC_CHECK_SAVE_ENCODED_FRAMES = 1013,
        IDC_CHECK_LOCAL_HOST = 1014,
    };

    explicit SAWndDlgAdvanced(QWidget* parent);

private:
    void OnInitDialog();
    void OnBnClickedRadioYuv();
    void OnBnClickedOk();

    // Read from CompressionType when the dialog is created.
    int32_t m_CompressionType = 5;

    QCheckBox* m_pCheckLocalHost = nullptr; // children of the dialog, owned by Qt
    QRadioButton* m_pRadioYuv = nullptr;
    QCheckBox* m_pCheckScreenUpdateRectangles = nullptr;
    QCheckBox* m_pCheckTraceH264Nalu = nullptr;
    QCheckBox* m_pCheckSaveEncodedFrames = nullptr;
    QPushButton* m_pButtonOk = nullptr;
    QPushButton* m_pButtonCancel = nullptr;
};
