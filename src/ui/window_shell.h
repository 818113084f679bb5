#pragma once

// WindowShell: the main window's side that the core talks to (platform::Shell and
// app::RunWindow). It shows what the core reports: slot lines and counters in the status bar
// and the Status dialog, painted together at most ten times a second; rows added, changed and
// removed in the two list panes, batched by their models; errors in message boxes, held back
// while a harvest runs so that no box opens deep inside the handling of a response, and sent to
// standard error once the program is closing on a signal.
//
// The window derives from it and answers the few things only it knows through the hooks
// below. One thread; attach() is called once the window's parts exist, and they live as long
// as the shell.

#include <QPointer>
#include <QString>
#include <QTimer>
#include <string>
#include <string_view>
#include <vector>

#include "app/context.h"
#include "app/run_control.h"
#include "platform/desktop.h"
#include "platform/shell.h"
#include "ui/dialogs/status_dialog.h"
#include "ui/item_models.h"

class QLabel;
class QStatusBar;
class QWidget;

namespace tarnvelox::ui {

class ListPane;

class WindowShell : public platform::Shell, public app::RunWindow {
  public:
    explicit WindowShell(platform::Desktop& desktop);
    WindowShell(const WindowShell&) = delete;
    WindowShell& operator=(const WindowShell&) = delete;
    ~WindowShell() override;

    // Counters, status-bar texts and the views' batches of rows are painted at most ten times
    // a second; paints what is waiting now (tests).
    void flush_display();
    [[nodiscard]] QLabel* status_text() const { return status_text_; }
    [[nodiscard]] QLabel* address_count() const { return address_count_; }
    [[nodiscard]] QLabel* progress() const { return progress_; }
    [[nodiscard]] StatusDialog* status_dialog() const { return status_dialog_; }
    // Whether the last close wrote the project and the settings (or had nothing to write).
    [[nodiscard]] bool saved_on_close() const { return saved_on_close_; }

    // ---- Shell ----------------------------------------------------------------------------
    void show_slot_status(int slot, std::string_view text) override;
    void report_error(std::string_view message) override;
    void refresh_status_counters() override;
    void link_row_added(const store::ItemRecord& rec) override;
    void link_row_changed(const store::ItemRecord& rec) override;
    void link_row_removing(int row) override;
    void link_row_removed(int row) override;
    void address_row_added(const store::ItemRecord& rec) override;
    void address_row_removing(int row) override;
    void address_row_removed(int row) override;
    void views_cleared() override;

    // ---- RunWindow (enable_controls is the window's) ---------------------------------------
    void busy_cursor(bool busy) override;
    bool confirm(std::string_view question) override;
    bool version_dialog_open() override { return false; }
    void show_activity(std::string_view) override {}
    void post_transfer_ended() override {}
    void open_status_dialog() override;

  protected:
    // Builds the status bar's three parts into `bar`.
    void build_status_bar(QStatusBar* bar, QWidget* window);
    // The parts the shell paints into; `window` is the dialogs' parent.
    void attach(QWidget* window, const app::Context& ctx, app::HarvestRun& run, ListPane& links,
                ListPane& addresses);

    // A line of the window's own in the status bar, at once (a line waiting to be painted
    // does not replace it).
    void show_status_text(const QString& text);
    void paint_counters();
    // From now on errors go to standard error: the program is closing on a signal, and nobody
    // is left to close a box.
    void errors_to_stderr() { signalled_ = true; }
    // When errors go to standard error, those still waiting for their box go there now.
    void flush_errors_to_stderr();

    // ---- Hooks for the window --------------------------------------------------------------
    // The record in `row` of `kind`'s list is about to leave it.
    virtual void record_leaving(ListKind kind, int row) = 0;
    // A link's record changed in place.
    virtual void link_changed(const store::ItemRecord& rec) = 0;
    // Both lists were emptied.
    virtual void records_cleared() = 0;

    platform::Desktop& desktop_;
    bool saved_on_close_ = true;

  private:
    void schedule_paint();
    void show_pending_errors();
    void tell_on_stderr(std::string_view message);

    QWidget* window_ = nullptr;
    const app::Context* context_ = nullptr;
    app::HarvestRun* harvest_ = nullptr;
    ListPane* links_ = nullptr;
    ListPane* addresses_ = nullptr;
    QLabel* status_text_ = nullptr;
    QLabel* address_count_ = nullptr;
    QLabel* progress_ = nullptr;  // the run's figures in the status bar
    QPointer<StatusDialog> status_dialog_;
    bool signalled_ = false;  // closing on a signal: errors go to standard error

    // Coalesced painting of the status line and the counters.
    QTimer paint_timer_;
    QString pending_status_;
    bool status_pending_ = false;
    bool counters_pending_ = false;

    // Errors told while a harvest runs wait for the event loop: a modal box opened deep inside
    // the handling of a response would run the harvest's events under that response.
    std::vector<std::string> pending_errors_;
    bool errors_scheduled_ = false;
    bool showing_errors_ = false;
};

}  // namespace tarnvelox::ui
