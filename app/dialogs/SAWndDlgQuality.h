#pragma once
// The "Quality/Performance" dialog: compression on or off, the encoding the
// server should use, its quality, and the frame rate.
//
// Writes: the quality slider writes the quality of the current compression
// type at every move, and "Cancel" does not take that back (the user sees the
// quality take effect at the next connect whichever button closes the
// dialog). Everything else is written by "OK" only: CompressionTypeLastKnownUsed
// (when the type is not 0), CompressionType (0 when compression is off),
// CompressionChromaSubsampling = 2 and Framerate.
//
// Controls carry their identifiers as object names (e.g. "1016" for the
// slider). The "Extra turbo speed (Image resolution reduction)" box is
// created disabled and nothing enables it: the values it would write are
// read by nothing.
//
// Threads: GUI thread only; modal, created on the stack by the menu handler.
#include <QDialog>

#include <cstdint>

class QButtonGroup;
class QCheckBox;
class QPushButton;
class QRadioButton;
class QSlider;

class SAWndDlgQuality : public QDialog
{
    Q_OBJECT

public:
    enum ControlId : int
    {
        IDC_OK = 1,
        IDC_CANCEL = 2,
        IDC_SLIDER_QUALITY = 1016,
        IDC_RADIO_SOFTWARE_JPEG = 1019,
        IDC_RADIO_HARDWARE_H264 = 1020,
        IDC_RADIO_CHOOSE_BEST = 1021,
        IDC_RADIO_FPS_120 = 1061,
        IDC_RADIO_COMPRESSION_ON = 1075,
        IDC_RADIO_COMPRESSION_OFF = 1078,
        IDC_RADIO_FPS_30 = 1085,
        IDC_RADIO_FPS_60 = 1086,
        IDC_RADIO_FPS_90 = 1102,
        IDC_CHECK_TURBO = 1106,
    };

    explicit SAWndDlgQuality(QWidget* parent);

private:
    void OnInitDialog();
    // Puts every control in line with the members (compression on or off).
    void PrivateControlsShow();
    void OnBnClickedRadioCompressionOn();
    void OnBnClickedRadioCompressionOff();
    void OnBnClickedRadioEncoding(int32_t compressionType);
    void OnBnClickedRadioFramerate(int32_t framerate);
    void OnHScrollSliderQuality(int position);
    void OnBnClickedCheckTurbo();
    void OnBnClickedOk();

    int32_t m_CompressionType = 5;
    bool m_CompressionOn = true;
    int32_t m_Framerate = 60;
    // True while the dialog itself moves the slider, which is not a user's
    // move and must not write a quality.
    bool m_SliderSetting = false;

    QRadioButton* m_pRadioOn = nullptr; // children of the dialog, owned by Qt
    QRadioButton* m_pRadioOff = nullptr;
    QButtonGroup* m_pGroupEncoding = nullptr;
    QRadioButton* m_pRadioChooseBest = nullptr;
    QRadioButton* m_pRadioHardware = nullptr;
    QRadioButton* m_pRadioSoftware = nullptr;
    QSlider* m_pSliderQuality = nullptr;
    QCheckBox* m_pCheckTurbo = nullptr;
    QRadioButton* m_pRadioFps30 = nullptr;
    QRadioButton* m_pRadioFps60 = nullptr;
    QRadioButton* m_pRadioFps90 = nullptr;
    QRadioButton* m_pRadioFps120 = nullptr;
    QPushButton* m_pButtonOk = nullptr;
    QPushButton* m_pButtonCancel = nullptr;
};
