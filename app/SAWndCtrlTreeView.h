#pragma once
// The server tree of the connect view: one bold level 1 item per server
// computer ("Computer Name: " + host name) and under it one level 2 item per
// address it answered from ("Connection: " + dotted address), each
// connection carrying the server's feature bitmap. An empty tree shows the
// placeholder "Cannot Detect Primary Machine!". Items keep their arrival
// order; nothing is sorted.
//
// Selection: every change of the current item, by mouse, keyboard or
// program, is first offered to the selection-changing handler, which may
// refuse it (the current item and the selection then stay as they were).
// Accepted changes are announced by QTreeWidget::currentItemChanged.
//
// Threads: GUI thread only.
#include <QIcon>
#include <QTreeWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class SAWndCtrlTreeView : public QTreeWidget
{
public:
    // true: the change may happen; false: refused. item is never null. The
    // handler may run an event loop (a message box) in which the item is
    // deleted: it must not use the item after that loop, and a change whose
    // item went meanwhile does not happen.
    using SelectionChangingHandler = std::function<bool(QTreeWidgetItem* item)>;

    static constexpr const char* STV_STRING_NO_SERVER = "Cannot Detect Primary Machine!";
    static constexpr const char* STV_STRING_COMPUTER_NAME = "Computer Name: ";
    static constexpr const char* STV_STRING_CONNECTION = "Connection: ";
    // Image list indices.
    static constexpr int IMAGE_COMPUTER = 3;
    static constexpr int IMAGE_COMPUTER_SECURITY = 4;
    static constexpr int IMAGE_CONNECTION = 5;
    static constexpr int IMAGE_COUNT = 8;
    static constexpr int IMAGE_SIDE = 45;
    // Item data: the feature bitmap of a connection, the image index of any
    // item, and when a connection's server was last heard from (the view's
    // count of replies).
    static constexpr int ROLE_FEATURES = Qt::UserRole;
    static constexpr int ROLE_IMAGE = Qt::UserRole + 1;
    static constexpr int ROLE_HEARD = Qt::UserRole + 2;

    explicit SAWndCtrlTreeView(QWidget* parent);

    // Loads the image list, then ItemsDeleteAll.
    bool Create();
    // Deletes every item and inserts the placeholder.
    void ItemsDeleteAll();
    // Adds a connection under its computer (made when missing); the
    // placeholder goes first. False (logged) when an item cannot be made.
    bool ItemHostInterfaceInsert(const std::string& hostName, const std::string& addressText,
                                 uint32_t featureBitmap);
    // The connection item with this address text, its bitmap in features;
    // nullptr when none.
    QTreeWidgetItem* ItemConnectionFind(const std::string& addressText, uint32_t& features) const;
    // The computer item with this host name (letter case ignored); nullptr when none.
    QTreeWidgetItem* ItemComputerFind(const std::string& hostName) const;
    // Host name, address text and bitmap of a connection item; false (logged)
    // for a computer item, the placeholder, or an item whose text is not ours.
    bool ItemContentGet(QTreeWidgetItem* item, std::string& hostName, std::string& addressText,
                        uint32_t& features) const;

    void SelectionChangingHandlerSet(SelectionChangingHandler handler) { m_Changing = std::move(handler); }
    const QIcon& ImageGet(int index) const;

private:
    class SelectionModel;

    bool PrivateLoadImageList();
    // The item's text less as many leading characters as prefix has,
    // compared without regard to case with wanted.
    static bool PrivateItemLabelCompare(const QTreeWidgetItem* item, const QString& prefix,
                                        const QString& wanted);
    QTreeWidgetItem* PrivateItemLevel1Insert(const QString& hostName, uint32_t featureBitmap);
    QTreeWidgetItem* PrivateItemLevel2Insert(QTreeWidgetItem* parent, const QString& addressText,
                                             uint32_t featureBitmap);
    // Asked by the selection model before the current item changes.
    bool PrivateSelectionChanging(const QModelIndex& index);

    std::vector<QIcon> m_Images; // IMAGE_COUNT entries once loaded; kept for the control's life
    QIcon m_NoImage;
    SelectionChangingHandler m_Changing;
};
