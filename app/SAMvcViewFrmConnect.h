#pragma once
// The connect view: banner, logo, title, the lookup button, the discovery
// progress bar and the server tree. It owns discovery for as long as it
// lives: discovery starts at the one-time initialisation, pauses while
// another view is shown (the frame calls ThreadDiscoveryResumeSuspend), and
// stops when the view is destroyed. Replies become tree items; selecting a
// connection item asks the frame to connect. The view also runs the targeted
// search for one host (the lookup dialog, or the automatic connect at
// start-up) with the progress dialog and the name resolution thread.
//
// Messages (MessageTargetGet, handled on the GUI thread): WM_APP+2 replies
// waiting, WM_APP+3 discovery cycle done, WM_APP+4 name resolved, WM_APP+5/6
// start/stop name resolution, WM_APP+7/8 start/stop the targeted search,
// WM_APP+20 automatic connect.
//
// Threads: GUI thread only, apart from the discovery and name resolution
// threads, which reach the view through its message target only.
//
// Lifetime: the frame target (borrowed) outlives the view. The destructor
// stops discovery and name resolution before the view's target closes.
#include "app/SAQtMessageTarget.h"
#include "net/PSThreadNetNameResolution.h"
#include "net/SANetDiscovery.h"
#include "net/SANetHostInfo.h"

#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class SAFrameBase;
class SAWndCtrlTreeView;
class SAWndDlgProgressCancel;

class SAMvcViewFrmConnect : public QWidget
{
public:
    // frameTarget: where connect events go (WM_APP+10); may be null (logged).
    SAMvcViewFrmConnect(SAMessageTarget* frameTarget, SAFrameBase* frame, QWidget* parent = nullptr);
    ~SAMvcViewFrmConnect() override;

    // WM_APP+1: controls, layout, redraw, then discovery starts.
    void OnAppOneTimeInitialization();
    SAMessageTarget* MessageTargetGet() { return &m_Target; }
    intptr_t MessageHandle(uint32_t message, uintptr_t wParam, intptr_t lParam);

    // The frame switches views: false pauses discovery; true empties the
    // tree and both discovery lists, then resumes.
    void ThreadDiscoveryResumeSuspend(bool resume);
    // The feature bitmap of the listed connection with this address text.
    bool FeatureSupportBitmapGet(const std::string& addressText, int32_t& features) const;

    // Message handlers (public so that the frame and tests reach them the
    // way the messages do).
    intptr_t OnAppDiscoveryHostInterfaceFound();
    intptr_t OnAppDiscoveryCycleDone();
    intptr_t OnAppNameResolved();
    intptr_t OnAppNameResolutionStart();
    intptr_t OnAppNameResolutionStop();
    intptr_t OnAppHostSearchStart();
    intptr_t OnAppHostSearchStop();
    intptr_t OnAppAutoConnectStart();
    // true: the change may happen.
    bool OnNotifyTreeViewSelectionChanging(QTreeWidgetItem* item);
    void OnNotifyTreeViewSelectionChanged(QTreeWidgetItem* item);
    // The lookup button: lookup dialog, then the progress dialog.
    void OnBtnClickedLookup();

    // Inspection (tests, screenshots).
    QTreeWidget* TreeGet() const;
    SAWndCtrlTreeView* TreeViewGet() const { return m_pTree; }
    QPushButton* LookupButtonGet() const { return m_pLookup; }
    QProgressBar* ProgressBarGet() const { return m_pProgress; }
    // The progress dialog while it is up; nullptr otherwise.
    SAWndDlgProgressCancel* ProgressDialogGet() const { return m_pProgressDialog; }
    SANetDiscovery& DiscoveryGet() { return m_Discovery; }
    const SANetHostInfo& HostInfoGet() const { return m_HostInfo; }

    static constexpr const char* PLACEHOLDER_TEXT = "Cannot Detect Primary Machine!";

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void PrivateGuiControlsCreate();
    void PrivateLayout();
    bool PrivateSearchingGet() const;
    // Connection items in the tree, under every computer.
    int PrivateTreeConnectionCountGet() const;
    // Removes the connection heard from longest ago (not the current item),
    // and its computer when that is left empty. False when none could go.
    bool PrivateTreeStalestDelete();
    // Runs the progress dialog for m_HostInfo, modally.
    void PrivateProgressDialogRun();
    // Closes the progress dialog through its Cancel path, if it is up.
    void PrivateProgressDialogClose();
    // Step of the targeted search once the host answered with record.
    void PrivateHostFound(const SANetHostRecord& record, const SANetHostInfo& found);
    // Connects the found host automatically, or refuses a secured one.
    void PrivateAutoConnect(SANetHostRecord record);
    bool PrivateLocalHostConnectionAllowed() const;
    static bool PrivateIsLocalHostName(const std::string& hostName);
    void PrivateMessageBox(const char* text, const char* caption, bool error);

    SAQtMessageTarget m_Target;
    SAMessageTarget* m_pFrameTarget; // borrowed; the frame outlives the view
    // Holds the reconnect address list, which automatic connect starts and
    // the state machine's reconnect attempts go on with; borrowed like the
    // frame's target.
    SAFrameBase* m_pFrame;

    QLabel* m_pBanner = nullptr; // children of the view, owned by Qt
    QLabel* m_pLogo = nullptr;
    QLabel* m_pTitle = nullptr;
    QPushButton* m_pLookup = nullptr;
    QProgressBar* m_pProgress = nullptr;
    SAWndCtrlTreeView* m_pTree = nullptr;

    SANetHostInfo m_HostInfo;                            // the host of the current targeted search
    SAWndDlgProgressCancel* m_pProgressDialog = nullptr; // on the stack of PrivateProgressDialogRun
    bool m_DiscoveryStarted = false;
    uint64_t m_RepliesHeard = 0; // replies taken by discovery, for the tree's ROLE_HEARD

    SANetDiscovery m_Discovery;                 // posts to m_Target; stopped in the destructor
    PSThreadNetNameResolution m_NameResolution; // writes m_HostInfo; joined in the destructor
};
