// The "Quality/Performance" dialog driven by mouse and keyboard: what the
// controls show for the stored values, the slider's immediate writes, the
// return of the confirmed encoding after "Off" and "On", and what "OK" stores.
#include "app/dialogs/SAWndDlgQuality.h"
#include "settings/SASettings.h"

#include "DialogsTestSupport.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

namespace
{
using Dlg = SAWndDlgQuality;

class DialogsQuality : public DialogsTest
{
protected:
    static QPoint HandleCentre(QSlider* slider)
    {
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.orientation = slider->orientation();
        option.minimum = slider->minimum();
        option.maximum = slider->maximum();
        option.sliderPosition = slider->sliderPosition();
        option.sliderValue = slider->value();
        option.tickPosition = slider->tickPosition();
        option.tickInterval = slider->tickInterval();
        option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
        return slider->style()
            ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
            .center();
    }

    static QRadioButton* Radio(QWidget& dialog, int id) { return Control<QRadioButton>(dialog, id); }

    // Identifiers of the ticked encoding buttons.
    static std::vector<int> EncodingTicked(QWidget& dialog)
    {
        std::vector<int> ticked;
        for (int id :
             {Dlg::IDC_RADIO_CHOOSE_BEST, Dlg::IDC_RADIO_HARDWARE_H264, Dlg::IDC_RADIO_SOFTWARE_JPEG})
        {
            if (Radio(dialog, id)->isChecked())
                ticked.push_back(id);
        }
        return ticked;
    }
};
} // namespace

TEST_F(DialogsQuality, OpensWithTheDefaults)
{
    Dlg dialog(nullptr);
    DialogShow(dialog);
    EXPECT_TRUE(Radio(dialog, Dlg::IDC_RADIO_COMPRESSION_ON)->isChecked());
    EXPECT_FALSE(Radio(dialog, Dlg::IDC_RADIO_COMPRESSION_OFF)->isChecked());
    EXPECT_EQ(EncodingTicked(dialog), std::vector<int>{Dlg::IDC_RADIO_CHOOSE_BEST});
    auto* slider = Control<QSlider>(dialog, Dlg::IDC_SLIDER_QUALITY);
    EXPECT_EQ(slider->minimum(), 1);
    EXPECT_EQ(slider->maximum(), 100);
    EXPECT_EQ(slider->tickInterval(), 10);
    EXPECT_EQ(slider->value(), 70);
    EXPECT_TRUE(slider->isEnabled());
    EXPECT_TRUE(Radio(dialog, Dlg::IDC_RADIO_FPS_60)->isChecked());
    auto* turbo = Control<QCheckBox>(dialog, Dlg::IDC_CHECK_TURBO);
    EXPECT_FALSE(turbo->isEnabled());
    // Opening writes nothing, not even the slider's initial position.
    EXPECT_TRUE(ValueNames().empty());
}

TEST_F(DialogsQuality, StoredValuesPickTheButtons)
{
    struct Case
    {
        int32_t type;
        int32_t framerate;
        int encodingId;
        int framerateId;
    };
    const Case cases[] = {
        {3, 120, Dlg::IDC_RADIO_SOFTWARE_JPEG, Dlg::IDC_RADIO_FPS_120},
        {4, 90, Dlg::IDC_RADIO_HARDWARE_H264, Dlg::IDC_RADIO_FPS_90},
        {1, 60, Dlg::IDC_RADIO_CHOOSE_BEST, Dlg::IDC_RADIO_FPS_60}, // any other type shows "Choose best"
        {5, 45, Dlg::IDC_RADIO_CHOOSE_BEST, Dlg::IDC_RADIO_FPS_30}, // any other rate shows 30
    };
    DwordStore("CompressionQualityJpeg", 21);
    DwordStore("CompressionQualityH264", 42);
    DwordStore("CompressionQualityChooseBest", 63);
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.type);
        DwordStore("CompressionType", c.type);
        DwordStore("Framerate", c.framerate);
        Dlg dialog(nullptr);
        DialogShow(dialog);
        EXPECT_EQ(EncodingTicked(dialog), std::vector<int>{c.encodingId});
        EXPECT_TRUE(Radio(dialog, c.framerateId)->isChecked());
        const int expected = c.type == 3 ? 21 : c.type == 4 ? 42 : 63;
        EXPECT_EQ(Control<QSlider>(dialog, Dlg::IDC_SLIDER_QUALITY)->value(), expected);
    }
}

TEST_F(DialogsQuality, StoredZeroOpensWithCompressionOff)
{
    DwordStore("CompressionType", 0);
    Dlg dialog(nullptr);
    DialogShow(dialog);
    EXPECT_TRUE(Radio(dialog, Dlg::IDC_RADIO_COMPRESSION_OFF)->isChecked());
    EXPECT_TRUE(EncodingTicked(dialog).empty());
    EXPECT_FALSE(Radio(dialog, Dlg::IDC_RADIO_CHOOSE_BEST)->isEnabled());
    EXPECT_FALSE(Radio(dialog, Dlg::IDC_RADIO_HARDWARE_H264)->isEnabled());
    EXPECT_FALSE(Radio(dialog, Dlg::IDC_RADIO_SOFTWARE_JPEG)->isEnabled());
    EXPECT_FALSE(Control<QSlider>(dialog, Dlg::IDC_SLIDER_QUALITY)->isEnabled());
    Click(Control<QPushButton>(dialog, Dlg::IDC_OK));
    EXPECT_EQ(DwordRead("CompressionType"), 0);
    // A type of 0 is never remembered as the last one used.
    EXPECT_FALSE(DwordRead("CompressionTypeLastKnownUsed").has_value());
    AllValuesDwordExpect();
}

TEST_F(DialogsQuality, OffThenOnRestoresTheEncodingLastConfirmed)
{
    {
        Dlg dialog(nullptr);
        DialogShow(dialog);
        Click(Radio(dialog, Dlg::IDC_RADIO_SOFTWARE_JPEG));
        Click(Control<QPushButton>(dialog, Dlg::IDC_OK));
        ASSERT_EQ(DwordRead("CompressionTypeLastKnownUsed"), 3);
    }
    DwordStore("CompressionQualityH264", 33);
    DwordStore("CompressionQualityJpeg", 44);
    Dlg dialog(nullptr);
    DialogShow(dialog);
    Click(Radio(dialog, Dlg::IDC_RADIO_HARDWARE_H264));
    EXPECT_EQ(Control<QSlider>(dialog, Dlg::IDC_SLIDER_QUALITY)->value(), 33);
    Click(Radio(dialog, Dlg::IDC_RADIO_COMPRESSION_OFF));
    EXPECT_TRUE(EncodingTicked(dialog).empty());
    EXPECT_FALSE(Control<QSlider>(dialog, Dlg::IDC_SLIDER_QUALITY)->isEnabled());
    Click(Radio(dialog, Dlg::IDC_RADIO_COMPRESSION_ON));
    // JPEG, confirmed before, not H.264, shown before "Off".
    EXPECT_EQ(EncodingTicked(dialog), std::vector<int>{Dlg::IDC_RADIO_SOFTWARE_JPEG});
    EXPECT_EQ(Control<QSlider>(dialog, Dlg::IDC_SLIDER_QUALITY)->value(), 44);
    EXPECT_TRUE(Control<QSlider>(dialog, Dlg::IDC_SLIDER_QUALITY)->isEnabled());
    Click(Control<QPushButton>(dialog, Dlg::IDC_OK));
    EXPECT_EQ(DwordRead("CompressionType"), 3);
}

TEST_F(DialogsQuality, SliderMovesAreStoredEvenWhenCancelled)
{
    DwordStore("CompressionType", 3);
    Dlg dialog(nullptr);
    DialogShow(dialog);
    auto* slider = Control<QSlider>(dialog, Dlg::IDC_SLIDER_QUALITY);
    Keys(slider, Qt::Key_Right, 5);
    EXPECT_EQ(DwordRead("CompressionQualityJpeg"), 75);
    // Dragging the handle to the right with the mouse.
    const QPoint handle = HandleCentre(slider);
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, handle);
    for (int dx = 4; dx <= 60; dx += 4)
        QTest::mouseMove(slider, handle + QPoint(dx, 0));
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, handle + QPoint(60, 0));
    EXPECT_GT(slider->value(), 75);
    const int moved = slider->value();
    Click(Control<QPushButton>(dialog, Dlg::IDC_CANCEL));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(DwordRead("CompressionQualityJpeg"), moved);
    EXPECT_EQ(SASettings::CompressionQualityGet(3), moved);
    // Only the quality was written; the other types' qualities are untouched.
    EXPECT_FALSE(DwordRead("CompressionQualityH264").has_value());
    EXPECT_FALSE(DwordRead("CompressionQualityChooseBest").has_value());
    EXPECT_EQ(DwordRead("CompressionType"), 3);
    AllValuesDwordExpect();
}

TEST_F(DialogsQuality, SliderWritesTheQualityOfTheEncodingShown)
{
    Dlg dialog(nullptr);
    DialogShow(dialog);
    auto* slider = Control<QSlider>(dialog, Dlg::IDC_SLIDER_QUALITY);
    Keys(slider, Qt::Key_Left, 3);
    EXPECT_EQ(DwordRead("CompressionQualityChooseBest"), 67);
    Click(Radio(dialog, Dlg::IDC_RADIO_HARDWARE_H264));
    EXPECT_EQ(slider->value(), 70); // the H.264 quality, still the default
    Keys(slider, Qt::Key_End, 1);
    EXPECT_EQ(DwordRead("CompressionQualityH264"), 100);
    Keys(slider, Qt::Key_Home, 1);
    EXPECT_EQ(DwordRead("CompressionQualityH264"), 1);
    EXPECT_EQ(DwordRead("CompressionQualityChooseBest"), 67);
}

TEST_F(DialogsQuality, OkStoresEncodingFramerateAndSubsampling)
{
    Dlg dialog(nullptr);
    DialogShow(dialog);
    Click(Radio(dialog, Dlg::IDC_RADIO_HARDWARE_H264));
    Click(Radio(dialog, Dlg::IDC_RADIO_FPS_120));
    Click(Control<QPushButton>(dialog, Dlg::IDC_OK));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(DwordRead("CompressionTypeLastKnownUsed"), 4);
    EXPECT_EQ(DwordRead("CompressionType"), 4);
    EXPECT_EQ(DwordRead("CompressionChromaSubsampling"), 2);
    EXPECT_EQ(DwordRead("Framerate"), 120);
    EXPECT_EQ(ValueNames().size(), 4u);
    AllValuesDwordExpect();
}

TEST_F(DialogsQuality, OffWithOkStoresZeroAndRemembersTheEncoding)
{
    Dlg dialog(nullptr);
    DialogShow(dialog);
    Click(Radio(dialog, Dlg::IDC_RADIO_SOFTWARE_JPEG));
    Click(Radio(dialog, Dlg::IDC_RADIO_COMPRESSION_OFF));
    Click(Radio(dialog, Dlg::IDC_RADIO_FPS_30));
    Click(Control<QPushButton>(dialog, Dlg::IDC_OK));
    EXPECT_EQ(DwordRead("CompressionType"), 0);
    EXPECT_EQ(DwordRead("CompressionTypeLastKnownUsed"), 3);
    EXPECT_EQ(DwordRead("Framerate"), 30);
    AllValuesDwordExpect();
}

TEST_F(DialogsQuality, CancelWritesNothingButTheSlider)
{
    Dlg dialog(nullptr);
    DialogShow(dialog);
    Click(Radio(dialog, Dlg::IDC_RADIO_SOFTWARE_JPEG));
    Click(Radio(dialog, Dlg::IDC_RADIO_FPS_90));
    Click(Radio(dialog, Dlg::IDC_RADIO_COMPRESSION_OFF));
    // The disabled box ignores clicks.
    Click(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_TURBO));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(ValueNames().empty());
}
