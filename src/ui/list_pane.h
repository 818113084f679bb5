#pragma once

// ListPane: one of the window's two list views (links or addresses) with its model and its
// context menu. It sets the view up, reports clicks and double clicks on rows, opens the
// context menu over a row and answers what is focused and selected. What a row event or a
// menu item does is the window's business. The pane lives as long as the window (its QObject
// parent); the list it shows must outlive it.

#include <QObject>
#include <cstdint>
#include <vector>

#include "harvest/harvest_env.h"
#include "store/item_list.h"
#include "store/tree_format.h"
#include "ui/item_models.h"

class QMenu;
class QPoint;
class QTableView;
class QWidget;

namespace tarnvelox::ui {

class ListPane : public QObject {
    Q_OBJECT

  public:
    // The view is a child of `area`; the pane and the (still empty) context menu belong to
    // `window`.
    ListPane(ListKind kind, const store::ItemList& list, const harvest::SearchTexts& search,
             QWidget* area, QWidget* window);

    [[nodiscard]] ListKind kind() const { return kind_; }
    [[nodiscard]] bool is_links() const { return kind_ == ListKind::Links; }
    // The links file or the addresses file: where the list's records are stored.
    [[nodiscard]] store::TreeFile tree_file() const;
    [[nodiscard]] QTableView* view() const { return view_; }
    [[nodiscard]] ItemListModel* model() const { return model_; }
    [[nodiscard]] QMenu* menu() const { return menu_; }

    // The record of the view's current (focused) row, or null.
    [[nodiscard]] const store::ItemRecord* current_record() const;
    // The selected rows, in selection order.
    [[nodiscard]] std::vector<int32_t> selected_rows() const;
    // Selects exactly `rows`.
    void select_rows(const std::vector<int32_t>& rows);
    // Selects every row, its waiting rows included.
    void select_all();
    // The view lets go of the model: the list is about to be freed.
    void detach();

  Q_SIGNALS:
    // A row was made current, clicked or double clicked; `row` is the row the mouse was on.
    void row_event(int row, bool double_click);
    // A column header was clicked.
    void header_clicked();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void show_context_menu(const QPoint& at);

    const ListKind kind_;
    QTableView* view_;
    ItemListModel* model_;
    QMenu* menu_;
};

}  // namespace tarnvelox::ui
