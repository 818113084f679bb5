#pragma once

// ItemListModel: a list view's model over one in-memory list (links or addresses). Row i is
// the list's record at position i; texts and icons are read from the record when the view asks,
// so a view of 100,000 rows costs only the rows on screen. The model follows the list through
// the shell's notices, in batches of at most ten a second: rows reported added are appended,
// and rows whose records left (trimming, deletes) go in one layout change, their persistent
// indexes (selections) moved; until then a removed row shows empty and its record is never
// read. Changed rows are repainted with the same batch, each on its own so that a view
// repaints only those on screen. The list and the search texts are borrowed for the model's
// life.

#include <QAbstractTableModel>
#include <QTimer>
#include <vector>

#include "harvest/harvest_env.h"
#include "store/item_list.h"

namespace tarnvelox::ui {

// The window's two lists: found links and found addresses.
enum class ListKind { Links, Addresses };

class ItemListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    using Kind = ListKind;

    ItemListModel(const store::ItemList& list, Kind kind, const harvest::SearchTexts& search,
                  QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The record shown in `row`, or null (also for a row removed since the last batch, which
    // shows empty until it).
    [[nodiscard]] store::ItemRecord* record(int row) const;

    // Notices from the shell.
    void row_added();
    void row_changed(const store::ItemRecord& rec);
    void row_removing(int row);
    void row_removed(int row);
    void cleared();
    // The batch, now: repaints the changed rows, applies every removal and shows every row
    // reported so far (before a selection is read or set, when the window paints, in tests).
    void flush();

    // Column 0 of the links view: titles (false, the start) or file names (true).
    void toggle_file_names();
    [[nodiscard]] bool file_names() const { return file_names_; }

  private:
    // The list position of view row `row`, or -1 for a row removed since the last batch.
    [[nodiscard]] int list_row(int row) const;
    void repaint_changed();
    void repaint_all();

    const store::ItemList& list_;
    const Kind kind_;
    const harvest::SearchTexts& search_;
    int shown_ = 0;             // rows the view knows
    int known_ = 0;             // rows the core reported
    std::vector<int> removed_;  // view rows whose records left since the last batch, ascending
    bool file_names_ = false;
    std::vector<const store::ItemRecord*> changed_;  // rows to repaint; borrowed from the list
    QTimer batch_timer_;
};

}  // namespace tarnvelox::ui
