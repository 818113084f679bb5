#include "ui/item_models.h"

#include "platform/qt/qt_text.h"
#include "ui/link_icons.h"

namespace tarnvelox::ui {

namespace {

constexpr int kRepaintMs = 33;  // changed rows repaint at most about 30 times a second

QString text_of(const std::optional<std::string>& text) {
    return text ? platform::qt::to_qstring(*text) : QString();
}

}  // namespace

ItemListModel::ItemListModel(const store::ItemList& list, Kind kind,
                             const harvest::SearchTexts& search, QObject* parent)
    : QAbstractTableModel(parent), list_(list), kind_(kind), search_(search) {
    insert_timer_.setSingleShot(true);
    insert_timer_.setInterval(0);  // the next turn of the event loop
    connect(&insert_timer_, &QTimer::timeout, this, &ItemListModel::flush);
    repaint_timer_.setSingleShot(true);
    repaint_timer_.setInterval(kRepaintMs);
    connect(&repaint_timer_, &QTimer::timeout, this, &ItemListModel::repaint_all);
}

int ItemListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

int ItemListModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return kind_ == Kind::Links ? 3 : 2;
}

store::ItemRecord* ItemListModel::record(int row) const {
    if (row < 0 || row >= shown_ || row >= list_.size()) return nullptr;
    return &list_.at(row);
}

QVariant ItemListModel::data(const QModelIndex& index, int role) const {
    const store::ItemRecord* rec = record(index.row());
    if (rec == nullptr || index.column() < 0 || index.column() >= columnCount()) return {};
    if (role == Qt::DecorationRole && index.column() == 0) {
        return row_icon(kind_ == Kind::Addresses ? 0 : store::link_icon(*rec));
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::AccessibleTextRole) {
        return {};
    }
    if (kind_ == Kind::Addresses) {
        return index.column() == 0 ? text_of(rec->title) : text_of(rec->source);
    }
    switch (index.column()) {
        case 0:
            if (file_names_ && (rec->kind & store::KIND_ADDRESS) == 0) {
                return platform::qt::to_qstring(store::link_file_name(*rec, search_.starting_url));
            }
            return text_of(rec->title);
        case 1:
            return text_of(rec->url);
        default:
            return text_of(rec->source);
    }
}

QVariant ItemListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (kind_ == Kind::Links) {
        static const char* const kLinks[] = {"Title:", "URL:", "Source:"};
        return section >= 0 && section < 3 ? QString(kLinks[section]) : QVariant();
    }
    static const char* const kAddresses[] = {"Email:", "Source:"};
    return section >= 0 && section < 2 ? QString(kAddresses[section]) : QVariant();
}

void ItemListModel::row_added() {
    ++known_;
    if (!insert_timer_.isActive()) insert_timer_.start();
}

void ItemListModel::flush() {
    insert_timer_.stop();
    // Never more rows than the list holds: a row is read straight from its record.
    const int target = std::min(known_, static_cast<int>(list_.size()));
    if (target <= shown_) return;
    beginInsertRows(QModelIndex(), shown_, target - 1);
    shown_ = target;
    endInsertRows();
}

void ItemListModel::row_changed() {
    if (!repaint_timer_.isActive()) repaint_timer_.start();
}

void ItemListModel::repaint_all() {
    if (shown_ == 0) return;
    Q_EMIT dataChanged(index(0, 0), index(shown_ - 1, columnCount() - 1),
                       {Qt::DisplayRole, Qt::DecorationRole});
}

void ItemListModel::row_removing(int row) {
    flush();  // the record is still in the list: pending rows can still be read
    removing_ = row >= 0 && row < shown_;
    if (removing_) beginRemoveRows(QModelIndex(), row, row);
}

void ItemListModel::row_removed(int row) {
    if (removing_) {
        --shown_;
        endRemoveRows();
    }
    removing_ = false;
    if (row >= 0 && known_ > 0) --known_;
}

void ItemListModel::cleared() {
    insert_timer_.stop();
    beginResetModel();
    shown_ = 0;
    known_ = 0;
    endResetModel();
}

void ItemListModel::toggle_file_names() {
    file_names_ = !file_names_;
    repaint_all();
}

}  // namespace tarnvelox::ui
