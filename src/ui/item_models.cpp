#include "ui/item_models.h"

#include <algorithm>

#include "harvest/list_rows.h"
#include "platform/qt/qt_text.h"
#include "ui/link_icons.h"

namespace tarnvelox::ui {

namespace {

// New, removed and changed rows reach the view together, in batches of at most ten a second:
// a harvest turns the event loop thousands of times a second, appending rows makes a view lay
// itself out and repaint all of it, and every batch is a paint. One batch for all three is one
// paint where separate ones were several (a run changes the rows on screen all the time).
constexpr int kBatchMs = 100;
// Changed rows are repainted one by one (a view repaints only those on screen) up to this many
// per batch; beyond it the whole view is repainted once.
constexpr std::size_t kMaxChangedRows = 256;

QString text_of(const std::optional<std::string>& text) {
    return text ? platform::qt::to_qstring(*text) : QString();
}

}  // namespace

ItemListModel::ItemListModel(const store::ItemList& list, Kind kind,
                             const harvest::SearchTexts& search, QObject* parent)
    : QAbstractTableModel(parent), list_(list), kind_(kind), search_(search) {
    batch_timer_.setSingleShot(true);
    batch_timer_.setInterval(kBatchMs);
    connect(&batch_timer_, &QTimer::timeout, this, &ItemListModel::flush);
}

int ItemListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

int ItemListModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return kind_ == Kind::Links ? 3 : 2;
}

int ItemListModel::list_row(int row) const {
    if (row < 0 || row >= shown_) return -1;
    // Rows removed since the last batch still show (empty) until it: skip them.
    int before = 0;
    for (int gone : removed_) {
        if (gone == row) return -1;
        if (gone > row) break;
        ++before;
    }
    const int at = row - before;
    return at < list_.size() ? at : -1;
}

store::ItemRecord* ItemListModel::record(int row) const {
    const int at = list_row(row);
    return at < 0 ? nullptr : &list_.at(at);
}

QVariant ItemListModel::data(const QModelIndex& index, int role) const {
    const store::ItemRecord* rec = record(index.row());
    if (rec == nullptr || index.column() < 0 || index.column() >= columnCount()) return {};
    if (role == Qt::DecorationRole && index.column() == 0) {
        return row_icon(kind_ == Kind::Addresses ? 0 : harvest::link_icon(*rec));
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
                return platform::qt::to_qstring(harvest::link_file_name(*rec, search_.starting_url));
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
    if (!batch_timer_.isActive()) batch_timer_.start();
}

void ItemListModel::flush() {
    batch_timer_.stop();
    // Changed rows first: their view rows count the removed rows that still show.
    repaint_changed();
    if (!removed_.empty()) {
        // The rows removed since the last batch leave in one layout change; selections and
        // other persistent indexes move with their rows.
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& at : before) {
            const int moved = list_row(at.row());
            after.push_back(moved < 0 ? QModelIndex() : createIndex(moved, at.column()));
        }
        shown_ -= static_cast<int>(removed_.size());
        removed_.clear();
        changePersistentIndexList(before, after);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }
    // Never more rows than the list holds: a row is read straight from its record.
    const int target = std::min(known_, static_cast<int>(list_.size()));
    if (target <= shown_) return;
    beginInsertRows(QModelIndex(), shown_, target - 1);
    shown_ = target;
    endInsertRows();
}

void ItemListModel::row_changed(const store::ItemRecord& rec) {
    if (changed_.size() <= kMaxChangedRows) changed_.push_back(&rec);
    if (!batch_timer_.isActive()) batch_timer_.start();
}

void ItemListModel::repaint_changed() {
    if (changed_.empty()) return;
    if (changed_.size() > kMaxChangedRows) {
        repaint_all();
        return;
    }
    // A record's title and state show in column 0 (its icon and, in title mode, its title).
    for (const store::ItemRecord* rec : changed_) {
        const int at = list_.index_of(*rec);
        // Its view row: past the removed rows that still show before it.
        int row = at;
        for (auto it = removed_.begin(); it != removed_.end() && *it <= row; ++it) ++row;
        if (at >= 0 && row < shown_) {
            const QModelIndex at = index(row, 0);
            Q_EMIT dataChanged(at, at, {Qt::DisplayRole, Qt::DecorationRole});
        }
    }
    changed_.clear();
}

void ItemListModel::repaint_all() {
    changed_.clear();
    if (shown_ == 0) return;
    Q_EMIT dataChanged(index(0, 0), index(shown_ - 1, columnCount() - 1),
                       {Qt::DisplayRole, Qt::DecorationRole});
}

void ItemListModel::row_removing(int row) {
    if (row < 0 || row >= list_.size()) return;
    // A changed record that leaves must not be looked for after it is freed.
    const store::ItemRecord* leaving = &list_.at(row);
    changed_.erase(std::remove(changed_.begin(), changed_.end(), leaving), changed_.end());
    // The view row that shows list row `row`: past the rows already removed before it.
    int view_row = row;
    auto it = removed_.begin();
    for (; it != removed_.end() && *it <= view_row; ++it) ++view_row;
    if (view_row < shown_) {
        removed_.insert(it, view_row);  // shown: it leaves with the next batch
        if (!batch_timer_.isActive()) batch_timer_.start();
    }
    if (known_ > 0) --known_;
}

void ItemListModel::row_removed(int /*row*/) {}

void ItemListModel::cleared() {
    batch_timer_.stop();
    removed_.clear();
    changed_.clear();
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
