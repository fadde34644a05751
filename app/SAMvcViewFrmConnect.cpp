#include "app/SAMvcViewFrmConnect.h"

#include "app/SAUtilArtwork.h"
#include "app/SAWndCtrlTreeView.h"
#include "app/dialogs/SAWndDlgLookup.h"
#include "app/dialogs/SAWndDlgProgressCancel.h"
#include "core/SALog.h"
#include "core/SAUtilAddress.h"
#include "net/SAFrameBase.h"
#include "net/SAFstmEventData.h"
#include "net/SAListDiscovery.h"
#include "net/SANetInterfaceEnumerator.h"
#include "settings/SARegistryList.h"
#include "settings/SASettings.h"

#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>

#include <arpa/inet.h>
#include <cerrno>
#include <unistd.h>

namespace
{
// The view's green, 0x006129 as a Windows colour value (B, G, R).
const QColor CONNECT_BACKGROUND(0x29, 0x61, 0x00);
constexpr uint16_t SERVER_PORT = 28252;
// The progress bar's range and step, stepped ten times per discovery cycle.
constexpr int PROGRESS_MAX = 100;
constexpr int PROGRESS_STEP = 10;
constexpr int PROGRESS_STEPS_PER_CYCLE = 10;
// Servers the tree lists, as many as the discovery list holds: anyone on the
// LAN can answer, and a flood of made-up servers must not grow the tree and
// slow every lookup in it without end. When it is full, the server heard from
// longest ago makes room: a real server answers every cycle, so a burst of
// made-up ones cannot keep it out for good.
constexpr int TREE_CONNECTIONS_MAX = static_cast<int>(SA_LIST_DISCOVERY_RECEIVED_LIMIT);
} // namespace

SAMvcViewFrmConnect::SAMvcViewFrmConnect(SAMessageTarget* frameTarget, SAFrameBase* frame, QWidget* parent)
    : QWidget(parent), m_pFrameTarget(frameTarget), m_pFrame(frame)
{
    setObjectName(QStringLiteral("SAMvcViewFrmConnect"));
    m_Target.HandlerSet([this](uint32_t message, uintptr_t wParam, intptr_t lParam)
                        { return MessageHandle(message, wParam, lParam); });
    // Made with the view, so that they are shown with it; the one-time
    // initialisation lays them out.
    PrivateGuiControlsCreate();
}

SAMvcViewFrmConnect::~SAMvcViewFrmConnect()
{
    // A paused loop must be free to see its stop.
    m_Discovery.Resume();
    m_Discovery.Stop();
    m_NameResolution.Terminate();
    m_Target.Close();
}

void SAMvcViewFrmConnect::OnAppOneTimeInitialization()
{
    if (m_pTree == nullptr)
        PrivateGuiControlsCreate();
    PrivateLayout();
    update();
    if (m_DiscoveryStarted)
        return;
    m_DiscoveryStarted = m_Discovery.Start(&m_Target);
    if (!m_DiscoveryStarted)
        SALog(SA_LOG_FAILURE,
              "SAMvcViewFrmConnect::OnAppOneTimeInitialization SANetDiscovery::Start failed!\n");
}

void SAMvcViewFrmConnect::PrivateGuiControlsCreate()
{
    m_pBanner = new QLabel(this);
    m_pLogo = new QLabel(this);
    m_pLogo->setPixmap(SAUtilArtworkPixmap(QStringLiteral("logo"), QSize(200, 200)));
    m_pTitle = new QLabel(QStringLiteral("Connect to Primary Machine (Server)"), this);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(25);
    font.setWeight(QFont::DemiBold);
    m_pTitle->setFont(font);
    m_pTitle->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    m_pLookup = new QPushButton(this);
    m_pLookup->setObjectName(QStringLiteral("lookup"));
    m_pLookup->setIcon(SAUtilArtworkIcon(QStringLiteral("lookup")));
    m_pLookup->setIconSize(QSize(32, 32));
    connect(m_pLookup, &QPushButton::clicked, this, [this]() { OnBtnClickedLookup(); });
    m_pProgress = new QProgressBar(this);
    m_pProgress->setRange(0, PROGRESS_MAX);
    m_pProgress->setValue(0);
    m_pProgress->setTextVisible(false);
    m_pTree = new SAWndCtrlTreeView(this);
    m_pTree->setStyleSheet(QStringLiteral("QTreeWidget { background: #D3D3D3; }"));
    m_pTree->Create();
    m_pTree->SelectionChangingHandlerSet([this](QTreeWidgetItem* item)
                                         { return OnNotifyTreeViewSelectionChanging(item); });
    connect(m_pTree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*)
            { OnNotifyTreeViewSelectionChanged(current); });
    // A click selects after it moves the current item: a computer selected
    // that way is unselected again.
    connect(m_pTree, &QTreeWidget::itemSelectionChanged, this,
            [this]()
            {
                for (QTreeWidgetItem* item : m_pTree->selectedItems())
                    if (item->parent() == nullptr)
                        item->setSelected(false);
            });
}

QTreeWidget* SAMvcViewFrmConnect::TreeGet() const
{
    return m_pTree;
}

void SAMvcViewFrmConnect::PrivateLayout()
{
    if (m_pTree == nullptr)
        return;
    const QRect client = rect();
    const int width = client.width();
    m_pBanner->setGeometry(0, 0, width, 200);
    m_pBanner->setPixmap(SAUtilArtworkPixmap(QStringLiteral("banner"), QSize(width, 200)));
    m_pLogo->setGeometry((client.left() + 200) / 2, 0, 200, 200);
    m_pTitle->setGeometry(client.left() + 10, client.top() + 222, width, 40);
    m_pLookup->setGeometry(client.right() + 1 - 50, client.top() + 222, 40, 40);
    m_pProgress->setGeometry(client.left(), client.top() + 210, width, 2);
    m_pTree->setGeometry(client.left(), client.top() + 272, width, std::max(0, client.height() - 272));
}

void SAMvcViewFrmConnect::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    PrivateLayout();
}

void SAMvcViewFrmConnect::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), CONNECT_BACKGROUND);
}

intptr_t SAMvcViewFrmConnect::MessageHandle(uint32_t message, uintptr_t /*wParam*/, intptr_t /*lParam*/)
{
    switch (message)
    {
    case SA_WM_APP_ONE_TIME_INITIALIZATION:
        OnAppOneTimeInitialization();
        return 0;
    case SA_WM_APP_DISCOVERY_HOST_INTERFACE_FOUND:
        return OnAppDiscoveryHostInterfaceFound();
    case SA_WM_APP_DISCOVERY_CYCLE_DONE:
        return OnAppDiscoveryCycleDone();
    case SA_WM_APP_NAME_RESOLVED:
        return OnAppNameResolved();
    case SA_WM_APP_NAME_RESOLUTION_START:
        return OnAppNameResolutionStart();
    case SA_WM_APP_NAME_RESOLUTION_STOP:
        return OnAppNameResolutionStop();
    case SA_WM_APP_HOST_SEARCH_START:
        return OnAppHostSearchStart();
    case SA_WM_APP_HOST_SEARCH_STOP:
        return OnAppHostSearchStop();
    case SA_WM_APP_AUTO_CONNECT_START:
        return OnAppAutoConnectStart();
    default:
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmConnect::MessageHandle failed! unknown message 0x%x\n", message);
        return 0;
    }
}

void SAMvcViewFrmConnect::ThreadDiscoveryResumeSuspend(bool resume)
{
    if (!resume)
    {
        m_Discovery.Pause();
        SALog(SA_LOG_DISCOVERY, "SAMvcViewFrmConnect::ThreadDiscoveryResumeSuspend bResume:%d\n", 0);
        return;
    }
    m_pTree->ItemsDeleteAll();
    m_Discovery.ListsClear();
    m_Discovery.Resume();
    SALog(SA_LOG_DISCOVERY, "SAMvcViewFrmConnect::ThreadDiscoveryResumeSuspend bResume:%d\n", 1);
}

bool SAMvcViewFrmConnect::FeatureSupportBitmapGet(const std::string& addressText, int32_t& features) const
{
    uint32_t bitmap = 0;
    if (m_pTree->ItemConnectionFind(addressText, bitmap) == nullptr)
        return false;
    features = static_cast<int32_t>(bitmap);
    return true;
}

bool SAMvcViewFrmConnect::PrivateSearchingGet() const
{
    return m_pProgressDialog != nullptr && m_pProgressDialog->SearchingGet();
}

bool SAMvcViewFrmConnect::PrivateLocalHostConnectionAllowed() const
{
    return SASettings::SettingsOptionEnableGet(SA_SETTINGS_LOCAL_HOST_CONNECTION_ENABLE);
}

bool SAMvcViewFrmConnect::PrivateIsLocalHostName(const std::string& hostName)
{
    char name[129] = {};
    if (gethostname(name, sizeof(name) - 1) != 0)
    {
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmConnect::PrivateIsLocalHostName gethostname failed! %d\n", errno);
        return false;
    }
    const QString own = QString::fromLocal8Bit(name).left(128);
    return !own.isEmpty() && own.compare(QString::fromStdString(hostName), Qt::CaseInsensitive) == 0;
}

void SAMvcViewFrmConnect::PrivateMessageBox(const char* text, const char* caption, bool error)
{
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Information, QString::fromUtf8(caption),
                    QString::fromUtf8(text), QMessageBox::Ok, this);
    box.exec();
}

int SAMvcViewFrmConnect::PrivateTreeConnectionCountGet() const
{
    int count = 0;
    for (int i = 0; i < m_pTree->topLevelItemCount(); ++i)
        count += m_pTree->topLevelItem(i)->childCount();
    return count;
}

bool SAMvcViewFrmConnect::PrivateTreeStalestDelete()
{
    QTreeWidgetItem* stalest = nullptr;
    qulonglong stalestHeard = 0;
    const QTreeWidgetItem* current = m_pTree->currentItem();
    for (int i = 0; i < m_pTree->topLevelItemCount(); ++i)
    {
        QTreeWidgetItem* computer = m_pTree->topLevelItem(i);
        for (int j = 0; j < computer->childCount(); ++j)
        {
            QTreeWidgetItem* connection = computer->child(j);
            const qulonglong heard = connection->data(0, SAWndCtrlTreeView::ROLE_HEARD).toULongLong();
            if (connection != current && (stalest == nullptr || heard < stalestHeard))
            {
                stalest = connection;
                stalestHeard = heard;
            }
        }
    }
    if (stalest == nullptr)
        return false;
    QTreeWidgetItem* computer = stalest->parent();
    delete stalest;
    if (computer != nullptr && computer->childCount() == 0 && computer != current)
        delete computer;
    return true;
}

intptr_t SAMvcViewFrmConnect::OnAppDiscoveryHostInterfaceFound()
{
    bool full = false; // logged once per drain
    SANetHostRecord record;
    while (m_Discovery.ReceivedTakeFirst(record))
    {
        SANetHostInfo found;
        if (!found.Initialize(record.Address, record.Port))
        {
            SALog(SA_LOG_FAILURE,
                  "SAWndDlgConnect::OnAppDiscoveryHostInterfaceFound  HostInfo.Initialize failed!\n");
            continue;
        }
        found.Record = record;
        if (PrivateSearchingGet())
        {
            // While one host is searched for, only its replies count.
            if (!m_Discovery.ListGet().UnicastTargetContains(record.Address))
                continue;
            PrivateHostFound(record, found);
            continue;
        }
        const std::string hostName = record.HostNameGet();
        uint32_t listed = 0;
        const qulonglong heard = ++m_RepliesHeard;
        if (QTreeWidgetItem* present = m_pTree->ItemConnectionFind(found.AddressText, listed))
        {
            present->setData(0, SAWndCtrlTreeView::ROLE_HEARD, heard);
            // A server whose features changed goes until it answers again.
            if (listed != record.FeatureBitmap)
                delete m_pTree->ItemComputerFind(hostName);
            continue;
        }
        if (!PrivateLocalHostConnectionAllowed() &&
            (SANetInterfaceEnumerator::AddressIsLocal(record.Address) || PrivateIsLocalHostName(hostName)))
            continue;
        if (PrivateTreeConnectionCountGet() >= TREE_CONNECTIONS_MAX)
        {
            if (!full)
                SALog(SA_LOG_FAILURE,
                      "SAMvcViewFrmConnect::OnAppDiscoveryHostInterfaceFound failed! the tree lists %d "
                      "servers: the one heard from longest ago makes room\n",
                      TREE_CONNECTIONS_MAX);
            full = true;
            if (!PrivateTreeStalestDelete())
                continue;
        }
        if (!m_pTree->ItemHostInterfaceInsert(hostName, found.AddressText, record.FeatureBitmap))
            SALog(SA_LOG_FAILURE, "SAWndCtrlTreeView::ItemHostInterfaceInsert PrivateItemInsert failed!");
        else if (QTreeWidgetItem* inserted = m_pTree->ItemConnectionFind(found.AddressText, listed))
            inserted->setData(0, SAWndCtrlTreeView::ROLE_HEARD, heard);
    }
    return 0;
}

void SAMvcViewFrmConnect::PrivateHostFound(const SANetHostRecord& record, const SANetHostInfo& found)
{
    uint32_t listed = 0;
    if (m_pTree->ItemConnectionFind(found.AddressText, listed) == nullptr &&
        !m_pTree->ItemHostInterfaceInsert(record.HostNameGet(), found.AddressText, record.FeatureBitmap))
        SALog(SA_LOG_FAILURE, "SAWndCtrlTreeView::ItemHostInterfaceInsert PrivateItemInsert failed!");
    PrivateProgressDialogClose();
    if (m_HostInfo.ConnectWhenFound)
    {
        PrivateAutoConnect(record);
        return;
    }
    // A manual lookup that found its server is remembered, most recent
    // first, as a pair of host name and address. A server without a name
    // is not: its address alone would pair with the next entry's name.
    const std::string hostName = record.HostNameGet();
    if (hostName.empty())
        return;
    SARegistryList recent(SA_LOOKUP_HOST_INFO_LIST);
    recent.ItemInsert(found.AddressText);
    recent.ItemInsert(hostName);
}

void SAMvcViewFrmConnect::PrivateAutoConnect(SANetHostRecord record)
{
    m_HostInfo.ConnectWhenFound = false;
    if ((record.FeatureBitmap & SA_NET_HOST_FEATURE_ENCRYPTION) != 0)
    {
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmConnect::OnAppDiscoveryHostInterfaceFound Auto-connect failed! "
                              "Encryption is enabled\n");
        PrivateMessageBox("This version of quillmere viewer does not support encryption.",
                          "Unable to Auto-connect!", true);
        return;
    }
    if (m_pFrameTarget == nullptr)
    {
        SALog(SA_LOG_FAILURE,
              "SAMvcViewFrmConnect::OnAppDiscoveryHostInterfaceFound AfxGetMainWnd failed!\n");
        return;
    }
    record.Port = htons(record.Port);
    m_pFrameTarget->Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_MENU_AUTO_CONNECT_SERVER,
                         reinterpret_cast<intptr_t>(&record));
}

intptr_t SAMvcViewFrmConnect::OnAppDiscoveryCycleDone()
{
    for (int i = 0; i < PROGRESS_STEPS_PER_CYCLE; ++i)
    {
        // Past the end the bar starts over, as a stepped bar does.
        const int next = m_pProgress->value() + PROGRESS_STEP;
        m_pProgress->setValue(next > PROGRESS_MAX ? 0 : next);
    }
    return 0;
}

intptr_t SAMvcViewFrmConnect::OnAppNameResolutionStart()
{
    if (!m_NameResolution.Start(&m_Target, &m_HostInfo))
        SALog(SA_LOG_FAILURE, "PSThreadNetNameResolution::Start PSThreadBase::Start failed!\n");
    return 0;
}

intptr_t SAMvcViewFrmConnect::OnAppNameResolutionStop()
{
    m_NameResolution.Terminate();
    // An automatic connect by name adds the resolved host to the targets
    // without telling the dialog, whose Cancel therefore arrives here: the
    // target must not stay behind.
    if (m_HostInfo.Resolved && m_HostInfo.Record.Address != 0)
        m_Discovery.UnicastTargetRemove(m_HostInfo.Record.Address);
    return 0;
}

intptr_t SAMvcViewFrmConnect::OnAppNameResolved()
{
    m_NameResolution.Terminate();
    // A result that was already on its way when the search was cancelled.
    if (!PrivateSearchingGet())
        return 0;
    m_HostInfo.Resolved = true;
    if (m_HostInfo.ConnectWhenFound)
    {
        m_Discovery.UnicastTargetAdd(m_HostInfo.Record);
        return 0;
    }
    m_pProgressDialog->OnAppHostResolved(m_HostInfo);
    return 0;
}

intptr_t SAMvcViewFrmConnect::OnAppHostSearchStart()
{
    // The dialog posts the start: a Cancel that came before it was handled
    // has already stopped the search, and would leave a target searched
    // for good.
    if (!m_HostInfo.Resolved || !PrivateSearchingGet())
        return 0;
    if (!PrivateLocalHostConnectionAllowed() &&
        SANetInterfaceEnumerator::AddressIsLocal(m_HostInfo.Record.Address))
    {
        PrivateProgressDialogClose();
        PrivateMessageBox("Invalid entry: Local host", "Error", false);
        return 0;
    }
    uint32_t listed = 0;
    if (m_pTree->ItemConnectionFind(m_HostInfo.AddressText, listed) != nullptr)
    {
        PrivateProgressDialogClose();
        if (m_HostInfo.ConnectWhenFound)
        {
            // Discovery starts before the automatic connect, so wherever
            // broadcasts reach the server it is usually listed by the time
            // this search begins. Refusing it as a duplicate would leave the
            // automatic connect to lose that race on most start-ups; the
            // listed server is the one to connect.
            SANetHostRecord record = m_HostInfo.Record;
            record.FeatureBitmap = listed;
            PrivateAutoConnect(record);
            return 0;
        }
        PrivateMessageBox("Invalid Data: Entry already in the list", "Error", false);
        return 0;
    }
    m_Discovery.UnicastTargetAdd(m_HostInfo.Record);
    return 0;
}

intptr_t SAMvcViewFrmConnect::OnAppHostSearchStop()
{
    m_Discovery.UnicastTargetRemove(m_HostInfo.Record.Address);
    return 0;
}

intptr_t SAMvcViewFrmConnect::OnAppAutoConnectStart()
{
    m_HostInfo.Clear();
    const int32_t setting = SASettings::AutoConnectSettingGet();
    if (setting == SA_SETTINGS_AUTO_CONNECT_IP_LIST)
    {
        // The state machine's list: a connection lost later goes on through
        // the stored addresses from where this start left them.
        uint32_t address = 0;
        if (m_pFrame != nullptr)
            m_pFrame->ReconnectAddressListRebuild(0);
        if (m_pFrame == nullptr || !m_pFrame->ReconnectAddressNext(address))
        {
            SALog(SA_LOG_FAILURE, "SAMvcViewFrmConnect::OnAppAutoConnectStart "
                                  "SASettings::AutoConnectHostIpAddressEnum failed!\n");
            SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_OFF);
            return 0;
        }
        m_HostInfo.Initialize(address, SERVER_PORT);
        m_HostInfo.Resolved = true;
        m_HostInfo.ConnectWhenFound = true;
    }
    else if (setting == SA_SETTINGS_AUTO_CONNECT_HOST_NAME)
    {
        std::string name;
        if (!SASettings::AutoConnectHostInfoGet(setting, name))
        {
            SALog(SA_LOG_FAILURE,
                  "SAMvcViewFrmConnect::OnAppAutoConnectStart SASettings::AutoConnectHostInfoGet failed!\n");
            SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_OFF);
            return 0;
        }
        m_HostInfo.Record.HostNameSet(name);
        m_HostInfo.Resolved = false;
        m_HostInfo.ConnectWhenFound = true;
    }
    if (m_HostInfo.ConnectWhenFound)
        PrivateProgressDialogRun();
    return 0;
}

void SAMvcViewFrmConnect::OnBtnClickedLookup()
{
    // One lookup at a time; a search already under way keeps its host.
    if (m_pProgressDialog != nullptr)
        return;
    SAWndDlgLookup lookup(&m_HostInfo, this);
    if (lookup.exec() == QDialog::Accepted)
        PrivateProgressDialogRun();
}

void SAMvcViewFrmConnect::PrivateProgressDialogRun()
{
    SAWndDlgProgressCancel dialog(&m_Target, this);
    dialog.HostInfoSet(m_HostInfo);
    m_pProgressDialog = &dialog;
    dialog.exec();
    m_pProgressDialog = nullptr;
}

void SAMvcViewFrmConnect::PrivateProgressDialogClose()
{
    if (PrivateSearchingGet())
        m_pProgressDialog->OnCancel();
}

bool SAMvcViewFrmConnect::OnNotifyTreeViewSelectionChanging(QTreeWidgetItem* item)
{
    std::string hostName;
    std::string addressText;
    uint32_t features = 0;
    if (!m_pTree->ItemContentGet(item, hostName, addressText, features))
    {
        SALog(SA_LOG_DISCOVERY,
              "SAMvcViewFrmConnect::OnNotifyTreeViewSelectionChanging m_TreeView.ItemContentGet failed!\n");
        return true;
    }
    if ((features & SA_NET_HOST_FEATURE_ENCRYPTION) != 0)
    {
        SALog(SA_LOG_FAILURE,
              "SAMvcViewFrmConnect::OnNotifyTreeViewSelectionChanging Encryption is enabled\n");
        PrivateMessageBox("This version of quillmere viewer does not support password and security.",
                          "Unable to Connect!", true);
        return false;
    }
    return true;
}

void SAMvcViewFrmConnect::OnNotifyTreeViewSelectionChanged(QTreeWidgetItem* item)
{
    if (item == nullptr)
        return;
    if (item->parent() == nullptr)
    {
        // A computer (or the placeholder) is nothing to connect to.
        item->setSelected(false);
        return;
    }
    std::string hostName;
    std::string addressText;
    uint32_t features = 0;
    if (!m_pTree->ItemContentGet(item, hostName, addressText, features))
    {
        SALog(SA_LOG_FAILURE,
              "SAMvcViewFrmConnect::OnNotifyTreeViewSelectionChanged m_TreeView.ItemContentGet failed!\n");
        return;
    }
    uint32_t address = 0;
    if (!SAUtilAddressParse(addressText, address))
    {
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmConnect::OnNotifyTreeViewSelectionChanged inet_pton failed! %d\n",
              EINVAL);
        return;
    }
    if (m_pFrameTarget == nullptr)
    {
        SALog(SA_LOG_FAILURE,
              "SAMvcViewFrmConnect::OnNotifyTreeViewSelectionChanged AfxGetMainWnd failed!\n");
        return;
    }
    SANetHostRecord record;
    record.Address = address;
    record.FeatureBitmap = features;
    m_pFrameTarget->Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_MENU_CONNECT_SERVER,
                         reinterpret_cast<intptr_t>(&record));
}
