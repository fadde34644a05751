// The "Advanced" dialog: the stored compression type written back unchanged,
// the local host switch, and the process-wide diagnostic switches that the
// pipeline reads.
#include "app/dialogs/SAWndDlgAdvanced.h"
#include "pipeline/SAPipelineOptions.h"

#include "DialogsTestSupport.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>

namespace
{
using Dlg = SAWndDlgAdvanced;

class DialogsAdvanced : public DialogsTest
{
protected:
    void SetUp() override
    {
        DialogsTest::SetUp();
        SwitchesSet(false, false, false);
    }
    void TearDown() override
    {
        SwitchesSet(false, false, false);
        DialogsTest::TearDown();
    }
    static void SwitchesSet(bool rectangles, bool trace, bool save)
    {
        SAPipelineOptions::s_ScreenUpdateRectanglesOnly.store(rectangles);
        SAPipelineOptions::s_TraceH264Nalu.store(trace);
        SAPipelineOptions::s_SaveEncodedFrames.store(save);
    }
};
} // namespace

TEST_F(DialogsAdvanced, StoredZeroIsWrittenBackByOk)
{
    DwordStore("CompressionType", 0);
    Dlg dialog(nullptr);
    DialogShow(dialog);
    EXPECT_FALSE(Control<QRadioButton>(dialog, Dlg::IDC_RADIO_YUV)->isChecked());
    Click(Control<QPushButton>(dialog, Dlg::IDC_OK));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(DwordRead("CompressionType"), 0);
    EXPECT_EQ(DwordRead("LocalHostConnectionEnable"), 0);
    AllValuesDwordExpect();
}

TEST_F(DialogsAdvanced, OkWritesTheTypeReadAtOpening)
{
    // Absent reads as 5, and 5 is what "OK" stores.
    {
        Dlg dialog(nullptr);
        DialogShow(dialog);
        Click(Control<QPushButton>(dialog, Dlg::IDC_OK));
        EXPECT_EQ(DwordRead("CompressionType"), 5);
    }
    DwordStore("CompressionType", 1);
    Dlg dialog(nullptr);
    DialogShow(dialog);
    auto* yuv = Control<QRadioButton>(dialog, Dlg::IDC_RADIO_YUV);
    EXPECT_TRUE(yuv->isChecked());
    EXPECT_FALSE(yuv->isEnabled());
    // A change made elsewhere while the dialog is open is overwritten with
    // the value the dialog read.
    DwordStore("CompressionType", 3);
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_EQ(DwordRead("CompressionType"), 1);
}

TEST_F(DialogsAdvanced, SwitchesFollowTheBoxesOnOk)
{
    {
        Dlg dialog(nullptr);
        DialogShow(dialog);
        EXPECT_FALSE(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_LOCAL_HOST)->isChecked());
        Click(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_LOCAL_HOST));
        Click(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_SCREEN_UPDATE_RECTANGLES));
        Click(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_SAVE_ENCODED_FRAMES));
        // Nothing changes before "OK".
        EXPECT_FALSE(SAPipelineOptions::s_ScreenUpdateRectanglesOnly.load());
        EXPECT_FALSE(DwordRead("LocalHostConnectionEnable").has_value());
        Click(Control<QPushButton>(dialog, Dlg::IDC_OK));
    }
    EXPECT_TRUE(SAPipelineOptions::s_ScreenUpdateRectanglesOnly.load());
    EXPECT_FALSE(SAPipelineOptions::s_TraceH264Nalu.load());
    EXPECT_TRUE(SAPipelineOptions::s_SaveEncodedFrames.load());
    EXPECT_EQ(DwordRead("LocalHostConnectionEnable"), 1);

    // Opening again shows what is set; unticking and "OK" switches off.
    Dlg dialog(nullptr);
    DialogShow(dialog);
    EXPECT_TRUE(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_LOCAL_HOST)->isChecked());
    EXPECT_TRUE(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_SCREEN_UPDATE_RECTANGLES)->isChecked());
    EXPECT_FALSE(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_TRACE_H264_NALU)->isChecked());
    EXPECT_TRUE(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_SAVE_ENCODED_FRAMES)->isChecked());
    Click(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_LOCAL_HOST));
    Click(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_SCREEN_UPDATE_RECTANGLES));
    Click(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_TRACE_H264_NALU));
    Click(Control<QPushButton>(dialog, Dlg::IDC_OK));
    EXPECT_FALSE(SAPipelineOptions::s_ScreenUpdateRectanglesOnly.load());
    EXPECT_TRUE(SAPipelineOptions::s_TraceH264Nalu.load());
    EXPECT_TRUE(SAPipelineOptions::s_SaveEncodedFrames.load());
    EXPECT_EQ(DwordRead("LocalHostConnectionEnable"), 0);
    AllValuesDwordExpect();
}

TEST_F(DialogsAdvanced, CancelChangesNothing)
{
    SwitchesSet(false, true, false);
    Dlg dialog(nullptr);
    DialogShow(dialog);
    Click(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_LOCAL_HOST));
    Click(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_SCREEN_UPDATE_RECTANGLES));
    Click(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_TRACE_H264_NALU));
    Click(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_SAVE_ENCODED_FRAMES));
    Click(Control<QPushButton>(dialog, Dlg::IDC_CANCEL));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(SAPipelineOptions::s_ScreenUpdateRectanglesOnly.load());
    EXPECT_TRUE(SAPipelineOptions::s_TraceH264Nalu.load());
    EXPECT_FALSE(SAPipelineOptions::s_SaveEncodedFrames.load());
    EXPECT_TRUE(ValueNames().empty());
}
