// The "Resolutions" dialog driven by keyboard and mouse on a 1920 x 1080
// screen: the native size, the filtered list of other sizes, the stepping
// bounds of the width and height, the enable rules and what "Apply" stores.
#include "app/dialogs/SAUtilSystemDpi.h"
#include "app/dialogs/SAWndDlgResolutionDialog.h"
#include "app/dialogs/SAWndSpinBoxStepped.h"
#include "settings/SASettings.h"
#include "settings/SAWndDlgResolution.h"

#include "DialogsTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <cstdlib>
#include <set>

namespace
{
using Dlg = SAWndDlgResolutionDialog;

class DialogsResolution : public DialogsTest
{
protected:
    struct Entry
    {
        int width;
        int height;
        int index;
    };

    static std::vector<Entry> ComboEntries(QWidget& dialog)
    {
        std::vector<Entry> entries;
        auto* combo = Control<QComboBox>(dialog, Dlg::IDC_COMBO_OTHER);
        if (combo == nullptr)
            return entries;
        for (int i = 0; i < combo->count(); ++i)
        {
            const QStringList parts = combo->itemText(i).split(QStringLiteral("  x  "));
            EXPECT_EQ(parts.size(), 2) << combo->itemText(i).toStdString();
            if (parts.size() != 2)
                continue;
            entries.push_back({parts[0].toInt(), parts[1].toInt(), combo->itemData(i).toInt()});
        }
        return entries;
    }
};

double ScaleFactor()
{
    const char* text = std::getenv("QT_SCALE_FACTOR");
    return text != nullptr ? std::atof(text) : 1.0;
}
} // namespace

TEST_F(DialogsResolution, NativeSizeIsTheScreensDevicePixels)
{
    Dlg dialog(nullptr);
    DialogShow(dialog);
    // Xvfb's screen is 1920 x 1080 whatever scale Qt applies on top.
    EXPECT_EQ(Control<QLineEdit>(dialog, Dlg::IDC_EDIT_NATIVE)->text().toStdString(), "1920  x  1080");
    EXPECT_TRUE(Control<QLineEdit>(dialog, Dlg::IDC_EDIT_NATIVE)->isReadOnly());
    // The connect request offers the same size.
    int32_t width = 0;
    int32_t height = 0;
    ASSERT_TRUE(SAWndDlgResolution::ResolutionGet(0, width, height));
    EXPECT_EQ(width, 1920);
    EXPECT_EQ(height, 1080);
    EXPECT_EQ(QGuiApplication::primaryScreen()->size().width(), static_cast<int>(1920 / ScaleFactor()));
    // The DPI used for the list's drop-down follows the scale like a scaled desktop.
    EXPECT_EQ(SAUtilSystemDpiGet(), static_cast<int32_t>(96 * ScaleFactor()));
}

TEST_F(DialogsResolution, WithoutMaximumEveryEntryButTheNativeIsListed)
{
    Dlg dialog(nullptr);
    DialogShow(dialog);
    const std::vector<Entry> entries = ComboEntries(dialog);
    ASSERT_EQ(entries.size(), 27u);
    int previous = -1;
    for (const Entry& entry : entries)
    {
        EXPECT_FALSE(entry.width == 1920 && entry.height == 1080);
        int32_t width = 0;
        int32_t height = 0;
        ASSERT_TRUE(SAWndDlgResolution::ResolutionTableGet(entry.index, width, height));
        EXPECT_EQ(entry.width, width);
        EXPECT_EQ(entry.height, height);
        EXPECT_GT(entry.index, previous); // in table order
        previous = entry.index;
    }
    EXPECT_EQ(entries.front().width, 800);
    EXPECT_EQ(entries.back().width, 4096);
    auto* combo = Control<QComboBox>(dialog, Dlg::IDC_COMBO_OTHER);
    EXPECT_EQ(combo->itemText(0).toStdString(), "800  x  600");
    EXPECT_EQ(combo->currentIndex(), -1); // nothing chosen until the user picks
}

TEST_F(DialogsResolution, MaximumAreaLeavesOutLargerEntries)
{
    DwordStore("ResolutionMaxX", 1920);
    DwordStore("ResolutionMaxY", 1080);
    Dlg dialog(nullptr);
    DialogShow(dialog);
    const std::vector<Entry> entries = ComboEntries(dialog);
    std::set<int> listed;
    for (const Entry& entry : entries)
    {
        EXPECT_LE(static_cast<int64_t>(entry.width) * entry.height, 2073600);
        EXPECT_FALSE(entry.width == 1920 && entry.height == 1080);
        listed.insert(entry.index);
    }
    // Every table entry that fits, other than the native size, is there.
    for (int32_t index = 0; index < SA_RESOLUTION_TABLE_COUNT; ++index)
    {
        int32_t width = 0;
        int32_t height = 0;
        ASSERT_TRUE(SAWndDlgResolution::ResolutionTableGet(index, width, height));
        const bool fits =
            static_cast<int64_t>(width) * height <= 2073600 && !(width == 1920 && height == 1080);
        EXPECT_EQ(listed.count(index) == 1, fits) << width << " x " << height;
    }
    EXPECT_EQ(entries.size(), 16u); // 800 x 600 .. 1680 x 1050
}

TEST_F(DialogsResolution, ChoosingAnEntryFillsWidthAndHeight)
{
    Dlg dialog(nullptr);
    DialogShow(dialog);
    auto* combo = Control<QComboBox>(dialog, Dlg::IDC_COMBO_OTHER);
    // Down from nothing chosen: the first entry, then the next ones.
    Keys(combo, Qt::Key_Down, 4);
    EXPECT_EQ(combo->currentText().toStdString(), "1152  x  864");
    EXPECT_EQ(Control<SAWndSpinBoxStepped>(dialog, Dlg::IDC_EDIT_WIDTH)->text().toStdString(), "1152");
    EXPECT_EQ(Control<SAWndSpinBoxStepped>(dialog, Dlg::IDC_EDIT_HEIGHT)->text().toStdString(), "864");
    Click(Control<QPushButton>(dialog, Dlg::IDC_APPLY));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(DwordRead("ResolutionCustomX"), 1152);
    EXPECT_EQ(DwordRead("ResolutionCustomY"), 864);
    EXPECT_EQ(DwordRead("ResolutionType"), 0);
    AllValuesDwordExpect();
}

TEST_F(DialogsResolution, HeightNeverStepsAboveTheWidth)
{
    DwordStore("ResolutionCustomX", 1280);
    DwordStore("ResolutionCustomY", 720);
    Dlg dialog(nullptr);
    DialogShow(dialog);
    auto* height = Control<SAWndSpinBoxStepped>(dialog, Dlg::IDC_EDIT_HEIGHT);
    Keys(height, Qt::Key_Up, 400);
    EXPECT_EQ(height->value(), 1280);
    Keys(height, Qt::Key_Down, 2);
    EXPECT_EQ(height->value(), 1276);
    Click(Control<QPushButton>(dialog, Dlg::IDC_APPLY));
    EXPECT_EQ(DwordRead("ResolutionCustomX"), 1280);
    EXPECT_EQ(DwordRead("ResolutionCustomY"), 1276);
}

TEST_F(DialogsResolution, StepThatWouldLeaveTheRangeDoesNothing)
{
    // 1279 + 2 passes the width of 1280: the step is refused, not clamped.
    DwordStore("ResolutionCustomX", 1280);
    DwordStore("ResolutionCustomY", 1279);
    Dlg dialog(nullptr);
    DialogShow(dialog);
    auto* height = Control<SAWndSpinBoxStepped>(dialog, Dlg::IDC_EDIT_HEIGHT);
    Keys(height, Qt::Key_Up, 1);
    EXPECT_EQ(height->value(), 1279);
    Keys(height, Qt::Key_Down, 1);
    EXPECT_EQ(height->value(), 1277);
}

TEST_F(DialogsResolution, WidthStopsAtTheMinimumAndTheMaximum)
{
    DwordStore("ResolutionMinX", 800);
    DwordStore("ResolutionMinY", 600);
    DwordStore("ResolutionMaxX", 1920);
    DwordStore("ResolutionMaxY", 1080);
    DwordStore("ResolutionCustomX", 1024);
    DwordStore("ResolutionCustomY", 768);
    Dlg dialog(nullptr);
    DialogShow(dialog);
    auto* width = Control<SAWndSpinBoxStepped>(dialog, Dlg::IDC_EDIT_WIDTH);
    auto* height = Control<SAWndSpinBoxStepped>(dialog, Dlg::IDC_EDIT_HEIGHT);
    Keys(width, Qt::Key_Down, 300);
    EXPECT_EQ(width->value(), 800);
    Keys(height, Qt::Key_Down, 300);
    EXPECT_EQ(height->value(), 600);
    Keys(width, Qt::Key_Up, 1000);
    EXPECT_EQ(width->value(), 1920);
    Keys(height, Qt::Key_Up, 1000);
    EXPECT_EQ(height->value(), 1080);
    // Typing does not change the read-only fields.
    QTest::keyClicks(width, "5");
    EXPECT_EQ(width->value(), 1920);
}

TEST_F(DialogsResolution, UntickingBothBoxesDisablesApply)
{
    Dlg dialog(nullptr);
    DialogShow(dialog);
    auto* native = Control<QCheckBox>(dialog, Dlg::IDC_CHECK_NATIVE);
    auto* other = Control<QCheckBox>(dialog, Dlg::IDC_CHECK_OTHER);
    auto* apply = Control<QPushButton>(dialog, Dlg::IDC_APPLY);
    ASSERT_TRUE(native->isChecked());
    ASSERT_TRUE(other->isChecked());
    Click(native);
    EXPECT_FALSE(Control<QLineEdit>(dialog, Dlg::IDC_EDIT_NATIVE)->isEnabled());
    EXPECT_TRUE(apply->isEnabled());
    Click(other);
    EXPECT_FALSE(apply->isEnabled());
    EXPECT_FALSE(Control<QComboBox>(dialog, Dlg::IDC_COMBO_OTHER)->isEnabled());
    EXPECT_FALSE(Control<SAWndSpinBoxStepped>(dialog, Dlg::IDC_EDIT_WIDTH)->isEnabled());
    EXPECT_FALSE(Control<SAWndSpinBoxStepped>(dialog, Dlg::IDC_EDIT_HEIGHT)->isEnabled());
    // Neither a click nor Enter applies a dialog with nothing ticked.
    Click(apply);
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(ValueNames().empty());
    Click(other);
    EXPECT_TRUE(apply->isEnabled());
    EXPECT_TRUE(Control<QComboBox>(dialog, Dlg::IDC_COMBO_OTHER)->isEnabled());
}

TEST_F(DialogsResolution, ApplyStoresTheTypeOfTheTickedBoxes)
{
    struct Case
    {
        bool untickNative;
        bool untickOther;
        int32_t type;
        int32_t customX;
        int32_t customY;
    };
    // The custom size stored is 0 x 0 whenever "Other" is not ticked.
    const Case cases[] = {{false, false, 0, 1024, 768}, {false, true, 1, 0, 0}, {true, false, 2, 1024, 768}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.type);
        SASettings::Clear(); // fails harmlessly while the key does not exist yet
        Dlg dialog(nullptr);
        DialogShow(dialog);
        if (c.untickNative)
            Click(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_NATIVE));
        if (c.untickOther)
            Click(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_OTHER));
        // Enter presses the default button, "Apply".
        QTest::keyClick(&dialog, Qt::Key_Return);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(DwordRead("ResolutionType"), c.type);
        EXPECT_EQ(DwordRead("ResolutionCustomX"), c.customX);
        EXPECT_EQ(DwordRead("ResolutionCustomY"), c.customY);
        EXPECT_EQ(ValueNames().size(), 3u);
        AllValuesDwordExpect();
    }
}

TEST_F(DialogsResolution, OpensWithTheStoredTypeAndSize)
{
    DwordStore("ResolutionType", 2);
    DwordStore("ResolutionCustomX", 1366);
    DwordStore("ResolutionCustomY", 768);
    {
        Dlg dialog(nullptr);
        DialogShow(dialog);
        EXPECT_FALSE(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_NATIVE)->isChecked());
        EXPECT_FALSE(Control<QLineEdit>(dialog, Dlg::IDC_EDIT_NATIVE)->isEnabled());
        EXPECT_TRUE(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_OTHER)->isChecked());
        EXPECT_EQ(Control<SAWndSpinBoxStepped>(dialog, Dlg::IDC_EDIT_WIDTH)->text().toStdString(), "1366");
        EXPECT_EQ(Control<SAWndSpinBoxStepped>(dialog, Dlg::IDC_EDIT_HEIGHT)->text().toStdString(), "768");
    }
    // A type above 2 reads as 0: both ticked.
    DwordStore("ResolutionType", 7);
    Dlg dialog(nullptr);
    DialogShow(dialog);
    EXPECT_TRUE(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_NATIVE)->isChecked());
    EXPECT_TRUE(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_OTHER)->isChecked());
}

TEST_F(DialogsResolution, CancelAndEscapeWriteNothing)
{
    {
        Dlg dialog(nullptr);
        DialogShow(dialog);
        Keys(Control<QComboBox>(dialog, Dlg::IDC_COMBO_OTHER), Qt::Key_Down, 2);
        Click(Control<QCheckBox>(dialog, Dlg::IDC_CHECK_NATIVE));
        Click(Control<QPushButton>(dialog, Dlg::IDC_CANCEL));
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    Dlg dialog(nullptr);
    DialogShow(dialog);
    Keys(Control<SAWndSpinBoxStepped>(dialog, Dlg::IDC_EDIT_WIDTH), Qt::Key_Up, 2);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(ValueNames().empty());
}
