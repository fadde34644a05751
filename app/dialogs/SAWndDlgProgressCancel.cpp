#include "app/dialogs/SAWndDlgProgressCancel.h"

#include "core/SALog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

SAWndDlgProgressCancel::SAWndDlgProgressCancel(SAMessageTarget* owner, QWidget* parent)
    : QDialog(parent), m_pOwner(owner)
{
    setObjectName(QStringLiteral("SAWndDlgProgressCancel"));
    setModal(true);
    auto* busy = new QProgressBar(this);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    m_pButtonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_pButtonCancel->setObjectName(QString::number(IDC_CANCEL));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_pButtonCancel);
    buttons->addStretch(1);
    auto* top = new QVBoxLayout(this);
    top->addWidget(busy);
    top->addLayout(buttons);
    setMinimumWidth(420);
    connect(m_pButtonCancel, &QPushButton::clicked, this, [this]() { OnCancel(); });
}

void SAWndDlgProgressCancel::HostInfoSet(const SANetHostInfo& hostInfo)
{
    m_Resolved = hostInfo.Resolved;
    m_Title =
        m_Resolved
            ? QString::fromUtf8(TITLE_SEARCHING_SERVER) + QString::fromStdString(hostInfo.AddressText)
            : QString::fromUtf8(TITLE_SEARCHING_NAME) + QString::fromStdString(hostInfo.Record.HostNameGet());
}

int SAWndDlgProgressCancel::exec()
{
    OnInitDialog();
    return QDialog::exec();
}

void SAWndDlgProgressCancel::OnInitDialog()
{
    m_Searching = true;
    setWindowTitle(m_Title);
    if (m_pOwner == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SAWndDlgProgressCancel::OnInitDialog failed! no owner\n");
        return;
    }
    m_pOwner->Post(m_Resolved ? SA_WM_APP_HOST_SEARCH_START : SA_WM_APP_NAME_RESOLUTION_START, 0, 0);
}

intptr_t SAWndDlgProgressCancel::OnAppHostResolved(const SANetHostInfo& hostInfo)
{
    HostInfoSet(hostInfo);
    setWindowTitle(m_Title);
    if (m_pOwner != nullptr)
        m_pOwner->Post(m_Resolved ? SA_WM_APP_HOST_SEARCH_START : SA_WM_APP_NAME_RESOLUTION_START, 0, 0);
    return 0;
}

void SAWndDlgProgressCancel::OnCancel()
{
    // Only the first Cancel of an open dialog stops anything: the owner may
    // close a dialog the user is cancelling at the same moment.
    if (!m_Searching)
        return;
    m_Searching = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (m_pOwner != nullptr)
        m_pOwner->Send(m_Resolved ? SA_WM_APP_HOST_SEARCH_STOP : SA_WM_APP_NAME_RESOLUTION_STOP, 0, 0);
    QApplication::restoreOverrideCursor();
    QDialog::reject();
}

void SAWndDlgProgressCancel::reject()
{
    if (m_Searching)
        OnCancel();
    else
        QDialog::reject();
}
