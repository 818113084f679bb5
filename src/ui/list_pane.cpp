#include "ui/list_pane.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTableView>

namespace tarnvelox::ui {

namespace {

// The URL column starts wide enough for a URL of this length.
constexpr const char* kTypicalUrl = "http://www.example.org/documents/chapter-1/page.html";
// The other columns' first widths: room for a typical title, host or address.
constexpr int kNarrowColumn = 200;
constexpr int kWideColumn = 220;
constexpr int kUrlPadding = 16;  // room for the state icon beside the typical URL
constexpr int kRowPadding = 6;   // a row's height beyond the font's
constexpr int kIconSize = 16;    // the link state icons' size

}  // namespace

ListPane::ListPane(ListKind kind, const store::ItemList& list, const harvest::SearchTexts& search,
                   QWidget* area, QWidget* window)
    : QObject(window),
      kind_(kind),
      view_(new QTableView(area)),
      model_(new ItemListModel(list, kind, search, this)),
      menu_(new QMenu(window)) {
    view_->setModel(model_);
    view_->setAccessibleName(is_links() ? "Links" : "Addresses");
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setShowGrid(false);
    view_->setWordWrap(false);
    view_->setIconSize(QSize(kIconSize, kIconSize));
    view_->verticalHeader()->hide();
    // Uniform rows: scrolling a long view measures nothing but the rows on screen.
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + kRowPadding);
    view_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view_->horizontalHeader()->setHighlightSections(false);
    view_->horizontalHeader()->setStretchLastSection(true);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    // Tab and Shift+Tab leave the view instead of walking its cells.
    view_->setTabKeyNavigation(false);
    view_->installEventFilter(this);

    if (is_links()) {
        view_->setColumnWidth(0, kNarrowColumn);
        view_->setColumnWidth(1, view_->fontMetrics().horizontalAdvance(kTypicalUrl) + kUrlPadding);
        view_->setColumnWidth(2, kWideColumn);
        view_->horizontalHeader()->setSectionsClickable(true);
        connect(view_->horizontalHeader(), &QHeaderView::sectionClicked, this,
                [this](int) { Q_EMIT header_clicked(); });
    } else {
        view_->setColumnWidth(0, kWideColumn);
        view_->setColumnWidth(1, kNarrowColumn);
    }

    connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& now, const QModelIndex&) {
                if (now.isValid()) Q_EMIT row_event(now.row(), false);
            });
    connect(view_, &QTableView::clicked, this,
            [this](const QModelIndex& at) { Q_EMIT row_event(at.row(), false); });
    connect(view_, &QTableView::doubleClicked, this,
            [this](const QModelIndex& at) { Q_EMIT row_event(at.row(), true); });
    connect(view_, &QWidget::customContextMenuRequested, this, &ListPane::show_context_menu);
}

store::TreeFile ListPane::tree_file() const {
    return is_links() ? store::TreeFile::Links : store::TreeFile::Addresses;
}

const store::ItemRecord* ListPane::current_record() const {
    return model_->record(view_->currentIndex().row());
}

std::vector<int32_t> ListPane::selected_rows() const {
    std::vector<int32_t> rows;
    for (const QModelIndex& index : view_->selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    return rows;
}

void ListPane::select_rows(const std::vector<int32_t>& rows) {
    view_->clearSelection();
    for (int32_t row : rows) {
        view_->selectionModel()->select(model_->index(row, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

void ListPane::select_all() {
    model_->flush();
    view_->selectAll();
}

void ListPane::detach() { view_->setModel(nullptr); }

void ListPane::show_context_menu(const QPoint& at) {
    if (!view_->indexAt(at).isValid()) return;  // only over a row
    view_->setFocus(Qt::PopupFocusReason);
    menu_->popup(view_->viewport()->mapToGlobal(at));
}

bool ListPane::eventFilter(QObject* watched, QEvent* event) {
    // The keyboard entering the view without a current row leaves it so: the view would make
    // its first row current, which shows that row on the Details page as if it was clicked.
    // The first arrow key takes the first row.
    if (watched == view_ && event->type() == QEvent::FocusIn && !view_->currentIndex().isValid()) {
        view_->viewport()->update();  // the focus frame
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tarnvelox::ui
