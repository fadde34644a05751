#include "app/dialogs/SAWndDlgAutoConnect.h"

#include "core/SALog.h"
#include "core/SAUtilAddress.h"
#include "settings/SARegistryList.h"
#include "settings/SASettings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <cerrno>

namespace
{
constexpr const char* AUTO_CONNECT_IP_LIST = "AutoConnectToIpAddressList";
} // namespace

SAWndDlgAutoConnect::SAWndDlgAutoConnect(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Automatic Connect"));
    setWindowTitle(QStringLiteral("Automatic Connect"));
    setModal(true);

    auto* groupMode = new QGroupBox(QStringLiteral("Automatic Connect"), this);
    m_pRadioOff = new QRadioButton(QStringLiteral("Off"), groupMode);
    m_pRadioOff->setObjectName(QString::number(IDC_RADIO_OFF));
    m_pRadioIpAddress = new QRadioButton(QStringLiteral("to TCP/IP address"), groupMode);
    m_pRadioIpAddress->setObjectName(QString::number(IDC_RADIO_IPADDRESS));
    m_pRadioHostName = new QRadioButton(QStringLiteral("to Host name"), groupMode);
    m_pRadioHostName->setObjectName(QString::number(IDC_RADIO_HOSTNAME));

    m_pEditIpAddress = new QLineEdit(groupMode);
    m_pEditIpAddress->setObjectName(QString::number(IDC_IPADDRESS));
    m_pEditIpAddress->setPlaceholderText(QStringLiteral("0.0.0.0"));
    m_pEditIpAddress->setMaxLength(TEXT_MAX);
    m_pEditIpAddress->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^([0-9]{1,3})?(\\.[0-9]{0,3}){0,3}$")), m_pEditIpAddress));
    m_pButtonAdd = new QPushButton(QStringLiteral("+"), groupMode);
    m_pButtonAdd->setObjectName(QString::number(IDC_BUTTON_ADD));
    m_pButtonRemove = new QPushButton(QStringLiteral("-"), groupMode);
    m_pButtonRemove->setObjectName(QString::number(IDC_BUTTON_REMOVE));
    m_pList = new QListWidget(groupMode);
    m_pList->setObjectName(QString::number(IDC_LIST_IPADDRESS));
    m_pList->setSortingEnabled(true);
    m_pEditHostName = new QLineEdit(groupMode);
    m_pEditHostName->setObjectName(QString::number(IDC_EDIT_HOSTNAME));
    m_pEditHostName->setMaxLength(TEXT_MAX);

    auto* gridMode = new QGridLayout(groupMode);
    gridMode->addWidget(m_pRadioOff, 0, 0, 1, 3);
    gridMode->addWidget(m_pRadioIpAddress, 1, 0, 1, 3);
    gridMode->addWidget(m_pEditIpAddress, 2, 0);
    gridMode->addWidget(m_pButtonAdd, 2, 1);
    gridMode->addWidget(new QLabel(QStringLiteral("Add Primary Machine"), groupMode), 2, 2);
    gridMode->addWidget(m_pList, 3, 0);
    gridMode->addWidget(m_pButtonRemove, 3, 1, Qt::AlignTop);
    gridMode->addWidget(new QLabel(QStringLiteral("Delete selected Primary Machine"), groupMode), 3, 2,
                        Qt::AlignTop);
    gridMode->addWidget(m_pRadioHostName, 4, 0, 1, 3);
    gridMode->addWidget(m_pEditHostName, 5, 0);

    auto* groupLogo = new QGroupBox(QStringLiteral("Background"), this);
    m_pCheckLogo = new QCheckBox(QStringLiteral("Set background image/logo"), groupLogo);
    m_pCheckLogo->setObjectName(QString::number(IDC_CHECK_LOGO));
    m_pEditLogoFile = new QLineEdit(groupLogo);
    m_pEditLogoFile->setObjectName(QString::number(IDC_EDIT_LOGO_FILE));
    m_pEditLogoFile->setReadOnly(true);
    m_pButtonLogoSelect = new QPushButton(QStringLiteral("Select..."), groupLogo);
    m_pButtonLogoSelect->setObjectName(QString::number(IDC_BUTTON_LOGO_SELECT));
    auto* gridLogo = new QGridLayout(groupLogo);
    gridLogo->addWidget(m_pCheckLogo, 0, 0, 1, 2);
    gridLogo->addWidget(m_pEditLogoFile, 1, 0);
    gridLogo->addWidget(m_pButtonLogoSelect, 1, 1);

    // Enter finishes the dialog; no button takes it over.
    for (QPushButton* button : {m_pButtonAdd, m_pButtonRemove, m_pButtonLogoSelect})
        button->setAutoDefault(false);

    auto* top = new QVBoxLayout(this);
    top->addWidget(groupMode);
    top->addWidget(groupLogo);

    OnInitDialog();

    connect(m_pRadioOff, &QRadioButton::clicked, this, [this]() { OnBnClickedRadioOff(); });
    connect(m_pRadioIpAddress, &QRadioButton::clicked, this, [this]() { OnBnClickedRadioIpAddress(); });
    connect(m_pRadioHostName, &QRadioButton::clicked, this, [this]() { OnBnClickedRadioHostName(); });
    connect(m_pButtonAdd, &QPushButton::clicked, this, [this]() { OnBnClickedButtonListItemIpAddressAdd(); });
    connect(m_pButtonRemove, &QPushButton::clicked, this,
            [this]() { OnBnClickedButtonListItemIpAddressRemove(); });
    connect(m_pCheckLogo, &QCheckBox::clicked, this, [this]() { OnBnClickedCheckLogo(); });
    connect(m_pButtonLogoSelect, &QPushButton::clicked, this, [this]() { OnBnClickedButtonLogoSelect(); });
}

void SAWndDlgAutoConnect::OnInitDialog()
{
    m_Mode = SASettings::AutoConnectSettingGet();
    if (m_Mode == SA_SETTINGS_AUTO_CONNECT_IP_LIST)
        m_pRadioIpAddress->setChecked(true);
    else if (m_Mode == SA_SETTINGS_AUTO_CONNECT_HOST_NAME)
        m_pRadioHostName->setChecked(true);
    else
        m_pRadioOff->setChecked(true);
    PrivateControlsEnable();

    uint32_t address = 0;
    for (int32_t index = 0; SASettings::AutoConnectHostIpAddressEnum(index, address); ++index)
    {
        const std::string text = SAUtilAddressText(address);
        if (text.empty())
        {
            SALog(SA_LOG_FAILURE, "SANetHostInfo::Initialize SAUtilIpAddressUlongToStringConvert failed!\n");
            continue;
        }
        m_pList->addItem(QString::fromStdString(text));
    }
    std::string hostName;
    if (SASettings::AutoConnectHostInfoGet(SA_SETTINGS_AUTO_CONNECT_HOST_NAME, hostName))
        m_pEditHostName->setText(QString::fromStdString(hostName));

    const bool logoAvailable = SASettings::SettingsOptionEnableGet(SA_SETTINGS_CUSTOMER_SPECIFIC_02);
    if (!logoAvailable)
        SASettings::SettingsOptionEnableSet(SA_SETTINGS_LOGO_ENABLE, false);
    m_pCheckLogo->setEnabled(logoAvailable);
    m_pEditLogoFile->setEnabled(logoAvailable);
    m_pCheckLogo->setChecked(SASettings::SettingsOptionEnableGet(SA_SETTINGS_LOGO_ENABLE));
    m_pButtonLogoSelect->setEnabled(m_pCheckLogo->isChecked());
    std::string logo;
    if (SASettings::LogoFileNameGet(logo))
        m_pEditLogoFile->setText(QString::fromStdString(logo));
}

void SAWndDlgAutoConnect::PrivateControlsEnable()
{
    const bool addresses = m_Mode == SA_SETTINGS_AUTO_CONNECT_IP_LIST;
    m_pEditIpAddress->setEnabled(addresses);
    m_pList->setEnabled(addresses);
    m_pButtonAdd->setEnabled(addresses);
    m_pButtonRemove->setEnabled(addresses);
    m_pEditHostName->setEnabled(m_Mode == SA_SETTINGS_AUTO_CONNECT_HOST_NAME);
}

void SAWndDlgAutoConnect::OnBnClickedRadioOff()
{
    m_Mode = SA_SETTINGS_AUTO_CONNECT_OFF;
    m_pRadioOff->setChecked(true);
    PrivateControlsEnable();
    SASettings::AutoConnectSettingSet(m_Mode);
}

void SAWndDlgAutoConnect::OnBnClickedRadioIpAddress()
{
    m_Mode = SA_SETTINGS_AUTO_CONNECT_IP_LIST;
    m_pRadioIpAddress->setChecked(true);
    PrivateControlsEnable();
    SASettings::AutoConnectSettingSet(m_Mode);
}

void SAWndDlgAutoConnect::OnBnClickedRadioHostName()
{
    m_Mode = SA_SETTINGS_AUTO_CONNECT_HOST_NAME;
    m_pRadioHostName->setChecked(true);
    PrivateControlsEnable();
    m_pEditHostName->setFocus();
    m_pEditHostName->selectAll();
    SASettings::AutoConnectSettingSet(m_Mode);
}

void SAWndDlgAutoConnect::OnBnClickedButtonListItemIpAddressAdd()
{
    if (m_Mode != SA_SETTINGS_AUTO_CONNECT_IP_LIST)
        return;
    const QString input = m_pEditIpAddress->text().left(TEXT_MAX);
    m_pEditIpAddress->clear();
    uint32_t address = 0;
    if (!SAUtilAddressParse(input.isEmpty() ? std::string("0.0.0.0") : input.toStdString(), address))
    {
        SALog(SA_LOG_FAILURE,
              "SAWndDlgAutoConnect::OnBnClickedButtonListItemIpAddressAdd inet_pton failed! %d\n", EINVAL);
        return;
    }
    if (address == 0)
    {
        QMessageBox::information(this, QStringLiteral("Error"), QStringLiteral("Invalid IP address!"));
        return;
    }
    const QString text = QString::fromStdString(SAUtilAddressText(address));
    if (m_pList->findItems(text, Qt::MatchFixedString).isEmpty())
        m_pList->addItem(text);
    // Stored again even when listed: a repeated address moves to the front.
    SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST, text.toStdString());
}

void SAWndDlgAutoConnect::OnBnClickedButtonListItemIpAddressRemove()
{
    if (m_Mode != SA_SETTINGS_AUTO_CONNECT_IP_LIST)
        return;
    QListWidgetItem* item = m_pList->currentItem();
    if (item == nullptr || !item->isSelected())
    {
        QMessageBox::information(this, QStringLiteral("Error"),
                                 QStringLiteral("Select an item to be removed on the list"));
        return;
    }
    const QString text = item->text().left(TEXT_MAX);
    if (text.isEmpty())
    {
        SALog(SA_LOG_FAILURE,
              "SAWndDlgAutoConnect::OnBnClickedButtonListItemIpAddressRemove LB_GETTEXT failed!\n");
        return;
    }
    delete m_pList->takeItem(m_pList->row(item));
    SARegistryList list(AUTO_CONNECT_IP_LIST);
    list.PrivateItemRemoveByIndex(text.toStdString());
}

void SAWndDlgAutoConnect::OnBnClickedCheckLogo()
{
    const bool on = m_pCheckLogo->isChecked();
    m_pButtonLogoSelect->setEnabled(on);
    SASettings::SettingsOptionEnableSet(SA_SETTINGS_LOGO_ENABLE, on);
}

void SAWndDlgAutoConnect::OnBnClickedButtonLogoSelect()
{
    const QString path =
        QFileDialog::getOpenFileName(this, QString(), QString(), QStringLiteral("Image Files (*.bmp *.png)"));
    if (!path.isEmpty())
        LogoFileNameChosen(path);
}

void SAWndDlgAutoConnect::LogoFileNameChosen(const QString& path)
{
    m_pEditLogoFile->setText(path);
    if (!SASettings::LogoFileNameSet(path.toStdString()))
        SALog(SA_LOG_FAILURE, "SASettings::LogoFileNameSet failed!\n");
}

void SAWndDlgAutoConnect::OnOK()
{
    if (m_Mode == SA_SETTINGS_AUTO_CONNECT_HOST_NAME)
    {
        const QString name = m_pEditHostName->text().left(TEXT_MAX);
        if (name.isEmpty())
            SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_OFF);
        else
            SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_HOST_NAME, name.toStdString());
    }
    else if (m_Mode == SA_SETTINGS_AUTO_CONNECT_IP_LIST && m_pList->count() == 0)
    {
        SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_OFF);
    }
    if (m_pEditLogoFile->text().isEmpty())
        SASettings::SettingsOptionEnableSet(SA_SETTINGS_LOGO_ENABLE, false);
}

void SAWndDlgAutoConnect::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
    {
        OnOK();
        accept();
        return;
    }
    QDialog::keyPressEvent(event); // Escape: closed without finishing
}

void SAWndDlgAutoConnect::closeEvent(QCloseEvent* event)
{
    if (isVisible())
    {
        OnOK();
        accept();
    }
    event->accept();
}
