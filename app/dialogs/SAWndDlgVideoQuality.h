#pragma once
// The "Video Quality" dialog (opened by command 32801, which no menu item
// carries): the video codec id and its bit rate, GOP size and motion
// estimation search range. The values are read, with their range
// fallbacks, when the dialog is created and written by "OK" only.
//
// A stored codec id other than 1, 2 or 28 leaves every codec button unticked
// (and is logged); unless the user picks one, "OK" writes it back unchanged.
//
// Controls carry their identifiers as object names (e.g. "1072").
// Threads: GUI thread only; modal, created on the stack by the command handler.
#include <QDialog>

#include <cstdint>

class QButtonGroup;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

class SAWndDlgVideoQuality : public QDialog
{
    Q_OBJECT

public:
    enum ControlId : int
    {
        IDC_OK = 1,
        IDC_CANCEL = 2,
        IDC_RADIO_MPEG1 = 1008,
        IDC_RADIO_MPEG2 = 1061,
        IDC_RADIO_H264 = 1071,
        IDC_SLIDER_BITRATE = 1072,
        IDC_STATIC_BITRATE = 1073,
        IDC_SLIDER_GOP = 1074,
        IDC_STATIC_GOP = 1075,
        IDC_SLIDER_SEARCH_RANGE = 1076,
        IDC_STATIC_SEARCH_RANGE = 1077,
    };

    explicit SAWndDlgVideoQuality(QWidget* parent);

private:
    void PrivateValuesRead();
    void OnInitDialog();
    void OnBnClickedRadioCodec(int32_t codecId);
    void OnHScrollSlider(QLabel* label, int32_t& member, int position);
    void OnBnClickedOk();

    int32_t m_CodecId = 1;
    int32_t m_BitrateMbps = 15;
    int32_t m_GopSize = 10;
    int32_t m_SearchRange = 4;

    QButtonGroup* m_pGroupCodec = nullptr; // children of the dialog, owned by Qt
    QRadioButton* m_pRadioMpeg1 = nullptr;
    QRadioButton* m_pRadioMpeg2 = nullptr;
    QRadioButton* m_pRadioH264 = nullptr;
    QSlider* m_pSliderBitrate = nullptr;
    QLabel* m_pLabelBitrate = nullptr;
    QSlider* m_pSliderGop = nullptr;
    QLabel* m_pLabelGop = nullptr;
    QSlider* m_pSliderSearchRange = nullptr;
    QLabel* m_pLabelSearchRange = nullptr;
    QPushButton* m_pButtonOk = nullptr;
    QPushButton* m_pButtonCancel = nullptr;
};
