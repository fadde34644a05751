#include "app/dialogs/SAWndDlgLookup.h"

#include "core/SALog.h"
#include "core/SAUtilAddress.h"
#include "settings/SARegistryList.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <cerrno>

namespace
{
constexpr uint16_t SERVER_PORT = 28252;
} // namespace

SAWndDlgLookup::SAWndDlgLookup(SANetHostInfo* hostInfo, QWidget* parent)
    : QDialog(parent), m_pHostInfo(hostInfo)
{
    setObjectName(QStringLiteral("Lookup"));
    setWindowTitle(QStringLiteral("Lookup"));
    setModal(true);

    // The address field takes up to four dotted numbers, like an address
    // control; a field left empty reads as 0.0.0.0.
    m_pEditIpAddress = new QLineEdit(this);
    m_pEditIpAddress->setObjectName(QString::number(IDC_IPADDRESS));
    m_pEditIpAddress->setPlaceholderText(QStringLiteral("0.0.0.0"));
    m_pEditIpAddress->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^([0-9]{1,3})?(\\.[0-9]{0,3}){0,3}$")), m_pEditIpAddress));
    m_pButtonIpAddress = new QPushButton(QStringLiteral(">"), this);
    m_pButtonIpAddress->setObjectName(QString::number(IDC_BUTTON_IPADDRESS));

    m_pEditHostName = new QLineEdit(this);
    m_pEditHostName->setObjectName(QString::number(IDC_EDIT_HOSTNAME));
    // What the record can hold; longer input is not accepted.
    m_pEditHostName->setMaxLength(HOST_NAME_CHARS_MAX);
    m_pButtonHostName = new QPushButton(QStringLiteral(">"), this);
    m_pButtonHostName->setObjectName(QString::number(IDC_BUTTON_HOSTNAME));
    m_pButtonHostName->setDefault(true);

    m_pComboRecent = new QComboBox(this);
    m_pComboRecent->setObjectName(QString::number(IDC_COMBO_RECENT));
    m_pComboRecent->setMinimumContentsLength(24);
    m_pButtonRecent = new QPushButton(QStringLiteral(">"), this);
    m_pButtonRecent->setObjectName(QString::number(IDC_BUTTON_RECENT));
    for (QPushButton* button : {m_pButtonIpAddress, m_pButtonRecent})
        button->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("IP Address:"), this), 0, 0);
    grid->addWidget(m_pEditIpAddress, 0, 1);
    grid->addWidget(m_pButtonIpAddress, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Hostname:"), this), 1, 0);
    grid->addWidget(m_pEditHostName, 1, 1);
    grid->addWidget(m_pButtonHostName, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Recent:"), this), 2, 0);
    grid->addWidget(m_pComboRecent, 2, 1);
    grid->addWidget(m_pButtonRecent, 2, 2);

    PrivateHostInfoLookUpLoad();

    connect(m_pButtonIpAddress, &QPushButton::clicked, this, [this]() { OnBnClickedButtonIpAddress(); });
    connect(m_pButtonHostName, &QPushButton::clicked, this, [this]() { OnBnClickedButtonHostName(); });
    connect(m_pButtonRecent, &QPushButton::clicked, this, [this]() { OnBnClickedButtonRecent(); });
}

void SAWndDlgLookup::PrivateHostInfoLookUpLoad()
{
    SARegistryList list(SA_LOOKUP_HOST_INFO_LIST);
    for (int32_t i = 0;; i += 2)
    {
        std::string hostName;
        std::string address;
        const bool gotName = list.ItemRetrieve(i, hostName);
        const bool gotAddress = gotName && list.ItemRetrieve(i + 1, address);
        if (!gotName || !gotAddress)
        {
            // The end of the list reads as a failed retrieval too.
            SALog(SA_LOG_DISCOVERY, "SAWndDlgLookup::PrivateHostInfoLookUpLoad get string failed!\n");
            break;
        }
        if (hostName.empty() || address.empty())
            break;
        // Every pair goes to the top: the oldest ends up first.
        m_pComboRecent->insertItem(0, QString::fromStdString(hostName + "(" + address + ")"));
    }
    m_pComboRecent->setCurrentIndex(-1);
    m_pComboRecent->setPlaceholderText(m_pComboRecent->count() > 0 ? QStringLiteral("recent input")
                                                                   : QStringLiteral("list is empty"));
}

bool SAWndDlgLookup::OnOK(const QString& addressText)
{
    const std::string text = addressText.isEmpty() ? std::string("0.0.0.0") : addressText.toStdString();
    uint32_t address = 0;
    if (!SAUtilAddressParse(text, address))
    {
        SALog(SA_LOG_FAILURE, "SAWndDlgLookup::OnOK inet_pton failed! %d\n", EINVAL);
        return false;
    }
    if (address == 0)
        return false;
    if (!m_pHostInfo->Initialize(address, SERVER_PORT))
        return false;
    m_pHostInfo->Resolved = true;
    m_pHostInfo->ConnectWhenFound = false;
    return true;
}

void SAWndDlgLookup::OnBnClickedButtonIpAddress()
{
    m_pHostInfo->Clear();
    if (OnOK(m_pEditIpAddress->text()))
        accept();
}

void SAWndDlgLookup::OnBnClickedButtonHostName()
{
    const QString text = m_pEditHostName->text().left(HOST_NAME_CHARS_MAX);
    if (text.isEmpty())
        return;
    m_pHostInfo->Clear();
    m_pHostInfo->Record.HostNameSet(text.toStdString());
    m_pHostInfo->Resolved = false;
    m_pHostInfo->ConnectWhenFound = false;
    accept();
}

void SAWndDlgLookup::OnBnClickedButtonRecent()
{
    const QString text = m_pComboRecent->currentText();
    if (text.isEmpty())
        return;
    const int open = text.indexOf(QLatin1Char('('));
    const int close = open < 0 ? -1 : text.indexOf(QLatin1Char(')'), open + 1);
    if (open < 0 || close < 0)
        return;
    const QString hostName = text.left(open);
    const QString address = text.mid(open + 1, close - open - 1);
    if (hostName.isEmpty() || address.isEmpty() || hostName.size() > RECENT_PART_MAX ||
        address.size() > RECENT_PART_MAX)
        return;
    m_pHostInfo->Clear();
    if (!OnOK(address))
        return;
    m_pHostInfo->Record.HostNameSet(hostName.toStdString());
    accept();
}
