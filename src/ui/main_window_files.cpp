#include <QApplication>
#include <algorithm>
#include <ctime>
#include <memory>
#include <optional>

#include "app/project_commands.h"
#include "exchange/export.h"
#include "exchange/import.h"
#include "harvest/list_rows.h"
#include "platform/qt/qt_text.h"
#include "ui/dialogs/export_dialog.h"
#include "ui/dialogs/import_dialog.h"
#include "ui/dialogs/loading_dialog.h"
#include "ui/main_window.h"

// The File menu's project, export and import commands: each asks for what it needs (a dialog,
// a file, a confirmation), lets the core do the work and shows what came of it.

namespace tarnvelox::ui {

namespace {

using platform::qt::to_qstring;

// The Loading dialog, shown once the first counters of a load arrive: a small project loads
// before a dialog could be seen, and a cancelled file choice shows none.
class LoadingOnDemand final : public app::LoadProgress {
  public:
    explicit LoadingOnDemand(QWidget* parent) : parent_(parent) {}
    ~LoadingOnDemand() override {
        if (dialog_) dialog_->close();
    }
    void show_load_counts(int32_t total_links, int32_t bad_links, int32_t addresses) override {
        if (!dialog_) {
            dialog_ = std::make_unique<LoadingDialog>(parent_);
            dialog_->show();
        }
        dialog_->show_load_counts(total_links, bad_links, addresses);
    }

  private:
    QWidget* parent_;
    std::unique_ptr<LoadingDialog> dialog_;
};

std::vector<platform::FileType> types_of(const auto& list) {
    return {list.begin(), list.end()};
}

}  // namespace

void MainWindow::open_project() { switch_project(app::OpenKind::Open); }

void MainWindow::new_project() { switch_project(app::OpenKind::New); }

void MainWindow::switch_project(app::OpenKind kind) {
    // The fields typed into the visible tab belong to the project being left.
    commit_page(current_tab_);
    ignore_row_events_ = true;
    app::ProjectOutcome out;
    {
        LoadingOnDemand progress(this);
        out = app::open_project(ctx_, desktop_, kind, &progress);
    }
    ignore_row_events_ = false;
    show_project(out);
}

void MainWindow::save_project_as() {
    commit_page(current_tab_);
    const app::ProjectOutcome out = app::save_project_as(ctx_, desktop_);
    if (out.result == app::ProjectResult::SavedAs || out.result == app::ProjectResult::Saved) {
        set_window_title();
        show_status_text(QString("Project saved as %1")
                             .arg(to_qstring(ctx_.settings.project.value_or(""))));
    }
}

void MainWindow::delete_project() {
    ignore_row_events_ = true;
    app::ProjectOutcome out;
    {
        LoadingOnDemand progress(this);
        out = app::delete_project(ctx_, desktop_, &progress);
    }
    ignore_row_events_ = false;
    show_project(out);
}

void MainWindow::show_project(const app::ProjectOutcome& out) {
    if (out.result != app::ProjectResult::Opened) return;
    set_window_title();
    fill_page(current_tab_);
    refresh_status_counters();
    links_->model()->flush();
    addresses_->model()->flush();
    update_enabling();
    show_status_text(out.loaded == app::Context::kLoadedWithoutProjectFile
                         ? to_qstring(app::kProjectFileMissingNote)
                         : QString());
}

void MainWindow::export_items() {
    const std::optional<ExportChoice> choice = run_export_dialog(this, ctx_.filter);
    if (!choice) return;
    ctx_.filter = choice->filter;
    platform::FileDialogRequest request;
    request.mode = platform::FileDialogRequest::Mode::Save;
    request.caption = "Export";
    request.start = ctx_.values.last_export.value_or("");  // empty: the data folder
    request.types = types_of(exchange::kExportFileTypes);
    request.overwrite_prompt = true;
    const std::optional<platform::FileDialogAnswer> file = desktop_.file_dialog(request);
    if (!file) return;
    const int format = file->type;
    // "Selected Only": the selected rows of the format's view, in row order.
    std::vector<const store::ItemRecord*> selected;
    if (choice->selected_only) {
        const bool links = exchange::export_list_kind(format) == exchange::ListKind::Links;
        const ListPane& list = links ? *links_ : *addresses_;
        const store::ItemList& items = links ? ctx_.lists.links : ctx_.lists.addresses;
        std::vector<int32_t> rows = list.selected_rows();
        std::sort(rows.begin(), rows.end());
        for (int32_t row : rows) {
            if (row >= 0 && row < items.size()) selected.push_back(&items.at(row));
        }
    }
    const std::time_t t = std::time(nullptr);
    std::tm now{};
    localtime_r(&t, &now);
    // A long export keeps the window drawn; what a person does waits until it is done.
    const auto keep_drawn = [] { QApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
    desktop_.busy_cursor(true);
    const int written = exchange::export_items(format, file->path,
                                               choice->selected_only ? &selected : nullptr,
                                               ctx_.filter, ctx_.store, *this, now, keep_drawn);
    desktop_.busy_cursor(false);
    ctx_.values.last_export = app::folder_of(file->path);
    if (written != 0) show_status_text("Exported to " + to_qstring(file->path));
}

void MainWindow::import_items() {
    const std::optional<ImportChoice> choice = run_import_dialog(this, ctx_.filter);
    if (!choice) return;
    ctx_.filter = choice->filter;
    platform::FileDialogRequest request;
    request.mode = platform::FileDialogRequest::Mode::Open;
    request.caption = "Import";
    request.start = ctx_.values.last_import.value_or("");
    request.types = types_of(exchange::kImportFileTypes);
    request.must_exist = true;
    const std::optional<platform::FileDialogAnswer> file = desktop_.file_dialog(request);
    if (!file) return;
    exchange::ImportRequest what;
    what.path = file->path;
    what.type = file->type;
    what.merge_mode = choice->merge_mode;
    what.modern_reader = ctx_.settings.modern != 0;
    desktop_.busy_cursor(true);
    ignore_row_events_ = true;
    const exchange::ImportResult result = exchange::import_file(ctx_.harvest, what, ctx_.filter);
    // Addresses the merge rule deleted may still be in the lists: they are read again (not
    // the project file: the fields and the filter just typed stay).
    if (result.lists_stale) exchange::reload_lists(ctx_.harvest);
    views_cleared();
    harvest::refill_views(ctx_.lists, *this, ctx_.settings.maxlist);
    links_->model()->flush();
    addresses_->model()->flush();
    ignore_row_events_ = false;
    ctx_.values.last_import = app::folder_of(file->path);
    refresh_status_counters();
    update_enabling();
    desktop_.busy_cursor(false);
    if (result.outcome == exchange::ImportOutcome::Done) {
        show_status_text(to_qstring(exchange::import_result_text(result)));
    }
}

}  // namespace tarnvelox::ui
