// The "Automatic Connect" dialog's host name: taken whole, as typed.
#include "app/dialogs/SAWndDlgAutoConnect.h"
#include "settings/SASettings.h"
#include "settings/SAUtilUtf16.h"

#include "DialogsTestSupport.h"

#include <QLineEdit>
#include <QRadioButton>

using Dlg = SAWndDlgAutoConnect;
using DialogsAutoConnect = DialogsTest;

TEST_F(DialogsAutoConnect, AHostNameLongerThanTheStartUpReadsIsStoredWholeAndNeverCut)
{
    // 40 characters: a cut name would make the start-up connect another host.
    const std::string name = "primary-machine-of-the-third-floor-lab-7";
    Dlg dialog(nullptr);
    DialogShow(dialog);
    Click(Control<QRadioButton>(dialog, Dlg::IDC_RADIO_HOSTNAME));
    auto* edit = Control<QLineEdit>(dialog, Dlg::IDC_EDIT_HOSTNAME);
    QTest::keyClicks(edit, QString::fromStdString(name + std::string(100, 'x')));
    EXPECT_EQ(edit->text().size(), Dlg::TEXT_MAX);
    edit->setText(QString::fromStdString(name));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    uint8_t stored[512] = {};
    uint32_t type = 0, size = sizeof(stored);
    ASSERT_EQ(
        SAUtilRegistryValueQuery(SA_REGISTRY_KEY_MAIN, "AutoConnectToHostNameInfo", &type, stored, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(SAUtilUtf8FromUtf16LeBytes(stored, size), name);
    // Too long for the start-up's read: the getter refuses it, and automatic
    // connect then switches itself off instead of going elsewhere.
    std::string read;
    EXPECT_FALSE(SASettings::AutoConnectHostInfoGet(SA_SETTINGS_AUTO_CONNECT_HOST_NAME, read));
}
