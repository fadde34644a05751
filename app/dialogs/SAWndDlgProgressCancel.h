#pragma once
// The progress dialog of a targeted search: its title says what is being
// looked for, its only button is "Cancel". It drives the search through the
// connect view (its owner): on opening it asks the owner to resolve the host
// name (WM_APP+5) or, when the address is known, to search for the host
// (WM_APP+7); when the owner reports the name resolved (WM_APP+9) it takes
// the new host info and asks for the search. Cancel, which the owner also
// uses to close the dialog once the server is found or refused, asks the
// owner to stop searching (WM_APP+8) or to stop resolving (WM_APP+6).
//
// Threads: GUI thread only; modal. The owner target (borrowed) outlives the
// dialog.
#include "core/SAMessageTarget.h"
#include "net/SANetHostInfo.h"

#include <QDialog>
#include <QString>

class QPushButton;

class SAWndDlgProgressCancel : public QDialog
{
    Q_OBJECT

public:
    enum ControlId : int
    {
        IDC_CANCEL = 2,
    };
    static constexpr const char* TITLE_SEARCHING_SERVER = "Searching quillmere Server: ";
    static constexpr const char* TITLE_SEARCHING_NAME = "Searching Network Name: ";

    SAWndDlgProgressCancel(SAMessageTarget* owner, QWidget* parent);

    // Takes the resolved flag and makes the title (before the dialog opens).
    void HostInfoSet(const SANetHostInfo& hostInfo);
    // Runs the dialog modally; opening it starts resolution or search.
    int exec() override;
    // WM_APP+9: the owner resolved the host name; the search begins.
    intptr_t OnAppHostResolved(const SANetHostInfo& hostInfo);
    // The Cancel path: stop the owner's search or resolution, close.
    void OnCancel();
    // Escape and the close box take the Cancel path too.
    void reject() override;

    bool SearchingGet() const { return m_Searching; }
    bool ResolvedGet() const { return m_Resolved; }
    QString TitleGet() const { return m_Title; }

private:
    void OnInitDialog();

    SAMessageTarget* m_pOwner; // the connect view's target; outlives the dialog
    bool m_Searching = false;
    bool m_Resolved = false;
    QString m_Title;
    QPushButton* m_pButtonCancel = nullptr;
};
