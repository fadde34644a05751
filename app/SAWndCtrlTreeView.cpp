#include "app/SAWndCtrlTreeView.h"

#include "app/SAUtilArtwork.h"
#include "core/SALog.h"

#include <QItemSelectionModel>
#include <QPersistentModelIndex>
#include <QTimer>

// Asks the tree before the current item moves. A refused index is
// remembered so that the selection a click makes right after moving the
// current item (Qt does both, one after the other) is refused with it,
// without asking a second time.
//
// The handler may run an event loop (the refusal box), and a discovery reply
// handled inside it may delete the very item asked about. The index is
// therefore held as a persistent one across the question, which Qt clears
// when its item goes; a plain index would keep pointing at the freed item,
// and Qt would walk it at the next row change.
class SAWndCtrlTreeView::SelectionModel : public QItemSelectionModel
{
public:
    SelectionModel(QAbstractItemModel* model, SAWndCtrlTreeView* tree)
        : QItemSelectionModel(model, tree), m_pTree(tree)
    {
    }

    void setCurrentIndex(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override
    {
        m_RefusedGone = false;
        if (!index.isValid() || index == currentIndex())
        {
            m_Refused = QPersistentModelIndex();
            QItemSelectionModel::setCurrentIndex(index, command);
            return;
        }
        const QPersistentModelIndex asked(index);
        const bool allowed = m_pTree->PrivateSelectionChanging(asked);
        if (!asked.isValid())
        {
            // Gone while the handler ran: nothing to move to, and the click's
            // selection that follows would land on whatever now lies under
            // the pointer. Both are refused until the click is over.
            m_Refused = QPersistentModelIndex();
            m_RefusedGone = true;
            QTimer::singleShot(0, this, [this] { m_RefusedGone = false; });
            return;
        }
        if (!allowed)
        {
            m_Refused = asked;
            return;
        }
        m_Refused = QPersistentModelIndex();
        QItemSelectionModel::setCurrentIndex(asked, command);
    }

    void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override
    {
        const bool selecting = (command & (QItemSelectionModel::Select | QItemSelectionModel::Toggle)) != 0;
        if (selecting && (m_RefusedGone || (m_Refused.isValid() && selection.contains(m_Refused))))
            return;
        QItemSelectionModel::select(selection, command);
    }
    using QItemSelectionModel::select;

private:
    SAWndCtrlTreeView* m_pTree; // owns this model
    QPersistentModelIndex m_Refused;
    bool m_RefusedGone = false; // the item asked about was deleted while the handler ran
};

namespace
{
// The image list in its order (images 0 to 7). Only the computer, the
// computer that requires security and the connection are ever shown; the
// other places keep no picture.
const char* const IMAGE_NAMES[SAWndCtrlTreeView::IMAGE_COUNT] = {
    nullptr, nullptr, nullptr, "tree-computer", "tree-computer-secure", "tree-connection", nullptr, nullptr,
};
// Item texts are read with a buffer of 260 characters.
constexpr int LABEL_MAX = 259;
} // namespace

SAWndCtrlTreeView::SAWndCtrlTreeView(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("quillmere Tree View"));
    setWindowTitle(QStringLiteral("quillmere Tree View"));
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // A double click neither expands nor collapses.
    setExpandsOnDoubleClick(false);
    QItemSelectionModel* previous = selectionModel();
    auto* selection = new SelectionModel(model(), this);
    setSelectionModel(selection);
    delete previous;
    // QTreeWidget ties its item signals to the model it made itself.
    connect(selection, &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex& before)
            { emit currentItemChanged(itemFromIndex(current), itemFromIndex(before)); });
    connect(selection, &QItemSelectionModel::selectionChanged, this,
            [this]() { emit itemSelectionChanged(); });
}

bool SAWndCtrlTreeView::Create()
{
    if (!PrivateLoadImageList())
        SALog(SA_LOG_FAILURE, "SAWndCtrlTreeView::Create PrivateLoadImageList failed!\n");
    ItemsDeleteAll();
    return true;
}

bool SAWndCtrlTreeView::PrivateLoadImageList()
{
    if (!m_Images.empty())
        return true;
    setIconSize(QSize(IMAGE_SIDE, IMAGE_SIDE));
    bool ok = true;
    for (const char* name : IMAGE_NAMES)
    {
        QIcon icon;
        if (name != nullptr)
        {
            const QPixmap pixmap =
                SAUtilArtworkPixmap(QString::fromLatin1(name), QSize(IMAGE_SIDE, IMAGE_SIDE));
            ok = ok && !pixmap.isNull();
            icon = QIcon(pixmap);
        }
        m_Images.push_back(icon);
    }
    return ok;
}

const QIcon& SAWndCtrlTreeView::ImageGet(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= m_Images.size())
        return m_NoImage;
    return m_Images[static_cast<size_t>(index)];
}

void SAWndCtrlTreeView::ItemsDeleteAll()
{
    clear();
    auto* placeholder = new QTreeWidgetItem(QStringList(QString::fromUtf8(STV_STRING_NO_SERVER)));
    QFont bold = placeholder->font(0);
    bold.setBold(true);
    placeholder->setFont(0, bold);
    // Images 8 and 9 lie beyond the image list: no picture.
    placeholder->setData(0, ROLE_IMAGE, 8);
    addTopLevelItem(placeholder);
}

bool SAWndCtrlTreeView::PrivateItemLabelCompare(const QTreeWidgetItem* item, const QString& prefix,
                                                const QString& wanted)
{
    const QString text = item->text(0).left(LABEL_MAX);
    const QString rest = text.size() > prefix.size() ? text.mid(prefix.size()) : QString();
    return rest.compare(wanted, Qt::CaseInsensitive) == 0;
}

QTreeWidgetItem* SAWndCtrlTreeView::ItemConnectionFind(const std::string& addressText,
                                                       uint32_t& features) const
{
    const QString prefix = QString::fromUtf8(STV_STRING_CONNECTION);
    const QString wanted = QString::fromStdString(addressText);
    for (int i = 0; i < topLevelItemCount(); ++i)
    {
        QTreeWidgetItem* computer = topLevelItem(i);
        for (int j = 0; j < computer->childCount(); ++j)
        {
            QTreeWidgetItem* connection = computer->child(j);
            if (PrivateItemLabelCompare(connection, prefix, wanted))
            {
                features = connection->data(0, ROLE_FEATURES).toUInt();
                return connection;
            }
        }
    }
    return nullptr;
}

QTreeWidgetItem* SAWndCtrlTreeView::ItemComputerFind(const std::string& hostName) const
{
    const QString prefix = QString::fromUtf8(STV_STRING_COMPUTER_NAME);
    const QString wanted = QString::fromStdString(hostName);
    for (int i = 0; i < topLevelItemCount(); ++i)
    {
        QTreeWidgetItem* computer = topLevelItem(i);
        // The placeholder is no computer, even for a host of that name.
        if (computer->text(0) == QString::fromUtf8(STV_STRING_NO_SERVER))
            continue;
        if (PrivateItemLabelCompare(computer, prefix, wanted))
            return computer;
    }
    return nullptr;
}

bool SAWndCtrlTreeView::ItemHostInterfaceInsert(const std::string& hostName, const std::string& addressText,
                                                uint32_t featureBitmap)
{
    for (int i = topLevelItemCount() - 1; i >= 0; --i)
    {
        if (topLevelItem(i)->text(0) == QString::fromUtf8(STV_STRING_NO_SERVER))
            delete takeTopLevelItem(i);
    }
    QTreeWidgetItem* computer = ItemComputerFind(hostName);
    if (computer == nullptr)
    {
        computer = PrivateItemLevel1Insert(QString::fromStdString(hostName), featureBitmap);
        if (computer == nullptr)
        {
            SALog(SA_LOG_FAILURE, "SAWndCtrlTreeView::PrivateItemInsert PrivateItemLevel1Insert failed!");
            return false;
        }
    }
    if (PrivateItemLevel2Insert(computer, QString::fromStdString(addressText), featureBitmap) == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SAWndCtrlTreeView::PrivateItemInsert PrivateItemLevel2Insert failed!");
        return false;
    }
    computer->setExpanded(true);
    if (!computer->isExpanded())
        SALog(SA_LOG_FAILURE, "SAWndCtrlTreeView::PrivateItemInsert TreeView_Expand failed!");
    return true;
}

QTreeWidgetItem* SAWndCtrlTreeView::PrivateItemLevel1Insert(const QString& hostName, uint32_t featureBitmap)
{
    const int image = (featureBitmap & 0x10) != 0 ? IMAGE_COMPUTER_SECURITY : IMAGE_COMPUTER;
    auto* item = new QTreeWidgetItem(QStringList(QString::fromUtf8(STV_STRING_COMPUTER_NAME) + hostName));
    QFont bold = item->font(0);
    bold.setBold(true);
    item->setFont(0, bold);
    item->setIcon(0, ImageGet(image));
    item->setData(0, ROLE_IMAGE, image);
    addTopLevelItem(item);
    if (indexOfTopLevelItem(item) < 0)
    {
        SALog(SA_LOG_FAILURE, "SAWndCtrlTreeView::PrivateItemLevel1Insert failed! ");
        delete item;
        return nullptr;
    }
    return item;
}

QTreeWidgetItem* SAWndCtrlTreeView::PrivateItemLevel2Insert(QTreeWidgetItem* parent,
                                                            const QString& addressText,
                                                            uint32_t featureBitmap)
{
    auto* item = new QTreeWidgetItem(QStringList(QString::fromUtf8(STV_STRING_CONNECTION) + addressText));
    item->setIcon(0, ImageGet(IMAGE_CONNECTION));
    item->setData(0, ROLE_IMAGE, IMAGE_CONNECTION);
    item->setData(0, ROLE_FEATURES, featureBitmap);
    parent->addChild(item);
    if (item->parent() != parent)
    {
        SALog(SA_LOG_FAILURE, "SAWndCtrlTreeView::PrivateItemLevel2Insert SendMessage failed! ");
        delete item;
        return nullptr;
    }
    return item;
}

bool SAWndCtrlTreeView::ItemContentGet(QTreeWidgetItem* item, std::string& hostName, std::string& addressText,
                                       uint32_t& features) const
{
    if (item == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SAWndCtrlTreeView::ItemContentGet PrivateItemLabelGet failed! (IpAddress)\n");
        return false;
    }
    const QString noServer = QString::fromUtf8(STV_STRING_NO_SERVER);
    const QString text = item->text(0).left(LABEL_MAX);
    if (text == noServer)
    {
        SALog(SA_LOG_FAILURE, "SAWndCtrlTreeView::ItemContentGet failed! STV_STRING_NO_SERVER (1)\n");
        return false;
    }
    QTreeWidgetItem* parent = item->parent();
    if (parent == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SAWndCtrlTreeView::ItemContentGet TreeView_GetParent failed!\n");
        return false;
    }
    const QString parentText = parent->text(0).left(LABEL_MAX);
    if (parentText == noServer)
    {
        SALog(SA_LOG_FAILURE, "SAWndCtrlTreeView::ItemContentGet failed! STV_STRING_NO_SERVER (2)\n");
        return false;
    }
    const QString connection = QString::fromUtf8(STV_STRING_CONNECTION);
    const QString computer = QString::fromUtf8(STV_STRING_COMPUTER_NAME);
    addressText = text.size() > connection.size() ? text.mid(connection.size()).toStdString() : std::string();
    hostName =
        parentText.size() > computer.size() ? parentText.mid(computer.size()).toStdString() : std::string();
    features = item->data(0, ROLE_FEATURES).toUInt();
    return true;
}

bool SAWndCtrlTreeView::PrivateSelectionChanging(const QModelIndex& index)
{
    QTreeWidgetItem* item = itemFromIndex(index);
    if (item == nullptr || !m_Changing)
        return true;
    return m_Changing(item);
}
