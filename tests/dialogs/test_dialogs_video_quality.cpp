// The "Video Quality" dialog: codec buttons for the stored id, the sliders'
// range fallbacks and labels, and what "OK" stores.
#include "app/dialogs/SAWndDlgVideoQuality.h"

#include "DialogsTestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

namespace
{
using Dlg = SAWndDlgVideoQuality;

class DialogsVideoQuality : public DialogsTest
{
protected:
    static std::vector<int> CodecTicked(QWidget& dialog)
    {
        std::vector<int> ticked;
        for (int id : {Dlg::IDC_RADIO_MPEG1, Dlg::IDC_RADIO_MPEG2, Dlg::IDC_RADIO_H264})
        {
            if (Control<QRadioButton>(dialog, id)->isChecked())
                ticked.push_back(id);
        }
        return ticked;
    }
    static std::string Label(QWidget& dialog, int id)
    {
        return Control<QLabel>(dialog, id)->text().toStdString();
    }
};
} // namespace

TEST_F(DialogsVideoQuality, UnexpectedCodecIdTicksNoButton)
{
    DwordStore("MpegCodecId", 7);
    Dlg dialog(nullptr);
    DialogShow(dialog);
    EXPECT_TRUE(CodecTicked(dialog).empty());
    EXPECT_EQ(LogCount("SAWndDlgVideoQuality::OnInitDialog failed! Unexpected Codec Id:7\n", SA_LOG_FAILURE),
              1);
    // Choosing one still works, and only one is ticked.
    Click(Control<QRadioButton>(dialog, Dlg::IDC_RADIO_MPEG2));
    Click(Control<QRadioButton>(dialog, Dlg::IDC_RADIO_H264));
    EXPECT_EQ(CodecTicked(dialog), std::vector<int>{Dlg::IDC_RADIO_H264});
    Click(Control<QPushButton>(dialog, Dlg::IDC_OK));
    EXPECT_EQ(DwordRead("MpegCodecId"), 28);
}

TEST_F(DialogsVideoQuality, StoredIdsPickTheirButtons)
{
    const std::pair<int32_t, int> cases[] = {{0, Dlg::IDC_RADIO_MPEG1},
                                             {1, Dlg::IDC_RADIO_MPEG1},
                                             {2, Dlg::IDC_RADIO_MPEG2},
                                             {28, Dlg::IDC_RADIO_H264}};
    for (const auto& [id, button] : cases)
    {
        SCOPED_TRACE(id);
        DwordStore("MpegCodecId", id);
        Dlg dialog(nullptr);
        DialogShow(dialog);
        EXPECT_EQ(CodecTicked(dialog), std::vector<int>{button});
    }
    EXPECT_FALSE(LogContains("Unexpected Codec Id"));
}

TEST_F(DialogsVideoQuality, DefaultsAndRangeFallbacks)
{
    {
        Dlg dialog(nullptr);
        DialogShow(dialog);
        EXPECT_EQ(Control<QSlider>(dialog, Dlg::IDC_SLIDER_BITRATE)->value(), 15);
        EXPECT_EQ(Control<QSlider>(dialog, Dlg::IDC_SLIDER_GOP)->value(), 10);
        EXPECT_EQ(Control<QSlider>(dialog, Dlg::IDC_SLIDER_SEARCH_RANGE)->value(), 0);
        EXPECT_EQ(Label(dialog, Dlg::IDC_STATIC_BITRATE), "15");
        EXPECT_EQ(Label(dialog, Dlg::IDC_STATIC_GOP), "10");
        EXPECT_EQ(Label(dialog, Dlg::IDC_STATIC_SEARCH_RANGE), "0");
    }
    DwordStore("VideoQualityBitrate", 41000000);
    DwordStore("VideoQualityGOPSize", 21);
    DwordStore("VideoQualityMESearchRange", 16);
    {
        Dlg dialog(nullptr);
        DialogShow(dialog);
        EXPECT_EQ(Control<QSlider>(dialog, Dlg::IDC_SLIDER_BITRATE)->value(), 15);
        EXPECT_EQ(Control<QSlider>(dialog, Dlg::IDC_SLIDER_GOP)->value(), 10);
        EXPECT_EQ(Control<QSlider>(dialog, Dlg::IDC_SLIDER_SEARCH_RANGE)->value(), 4);
        EXPECT_EQ(Label(dialog, Dlg::IDC_STATIC_SEARCH_RANGE), "4");
    }
    // The bit rate is shown in whole Mbps.
    DwordStore("VideoQualityBitrate", 40999999);
    DwordStore("VideoQualityGOPSize", 20);
    DwordStore("VideoQualityMESearchRange", 15);
    Dlg dialog(nullptr);
    DialogShow(dialog);
    EXPECT_EQ(Control<QSlider>(dialog, Dlg::IDC_SLIDER_BITRATE)->value(), 40);
    EXPECT_EQ(Label(dialog, Dlg::IDC_STATIC_BITRATE), "40");
    EXPECT_EQ(Control<QSlider>(dialog, Dlg::IDC_SLIDER_GOP)->value(), 20);
    EXPECT_EQ(Control<QSlider>(dialog, Dlg::IDC_SLIDER_SEARCH_RANGE)->value(), 15);
}

TEST_F(DialogsVideoQuality, SlidersMoveLabelsAndOkStoresEverything)
{
    Dlg dialog(nullptr);
    DialogShow(dialog);
    auto* bitrate = Control<QSlider>(dialog, Dlg::IDC_SLIDER_BITRATE);
    auto* gop = Control<QSlider>(dialog, Dlg::IDC_SLIDER_GOP);
    auto* range = Control<QSlider>(dialog, Dlg::IDC_SLIDER_SEARCH_RANGE);
    Keys(bitrate, Qt::Key_Right, 30); // stops at 40
    Keys(gop, Qt::Key_Left, 4);
    Keys(range, Qt::Key_Right, 7);
    EXPECT_EQ(Label(dialog, Dlg::IDC_STATIC_BITRATE), "40");
    EXPECT_EQ(Label(dialog, Dlg::IDC_STATIC_GOP), "6");
    EXPECT_EQ(Label(dialog, Dlg::IDC_STATIC_SEARCH_RANGE), "7");
    Click(Control<QRadioButton>(dialog, Dlg::IDC_RADIO_MPEG2));
    // Nothing is written before "OK".
    EXPECT_TRUE(ValueNames().empty());
    Click(Control<QPushButton>(dialog, Dlg::IDC_OK));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(DwordRead("MpegCodecId"), 2);
    EXPECT_EQ(DwordRead("VideoQualityBitrate"), 40000000);
    EXPECT_EQ(DwordRead("VideoQualityGOPSize"), 6);
    EXPECT_EQ(DwordRead("VideoQualityMESearchRange"), 7);
    EXPECT_EQ(ValueNames().size(), 4u);
    AllValuesDwordExpect();
}

TEST_F(DialogsVideoQuality, CancelWritesNothing)
{
    Dlg dialog(nullptr);
    DialogShow(dialog);
    Keys(Control<QSlider>(dialog, Dlg::IDC_SLIDER_GOP), Qt::Key_Right, 3);
    Click(Control<QRadioButton>(dialog, Dlg::IDC_RADIO_H264));
    Click(Control<QPushButton>(dialog, Dlg::IDC_CANCEL));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(ValueNames().empty());
}
