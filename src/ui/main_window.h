#pragma once

// MainWindow: the desktop program's one main window. It owns the program's context and the
// Qt platform binding, shows everything the core reports (it is the core's Shell and RunWindow)
// and turns every menu item, button and view event into a call on the core. It holds no
// harvesting logic: the four tab pages, the two list views over the in-memory lists, Start and
// Cancel, the two-part status bar, the menus and the context menus, laid out by the column
// rule (the addresses view shows only while the window is wider than the links view's width
// plus 50 pixels).
//
// Commands carry the ids of the program's command table (QAction::data). One thread; every
// handler may be entered from inside a modal dialog opened by another.

#include <QKeySequence>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/command_ids.h"
#include "app/context.h"
#include "app/run_control.h"
#include "platform/desktop.h"
#include "platform/mail_lookup.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_network.h"
#include "platform/shell.h"
#include "ui/dialogs/status_dialog.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;
class QTableView;

namespace tarnvelox::ui {

class DetailsPage;
class HarvestPage;
class ItemListModel;
class SearchPage;

namespace cmd = app::cmd;

// The tabs, in order.
enum Tab : int { kNameSearchTab = 0, kWebSearchTab = 1, kHarvestTab = 2, kDetailsTab = 3 };

inline constexpr int kLinksViewWidth = 640;  // the left column's width at its narrowest
inline constexpr int kAddressesMargin = 50;  // the addresses view needs this much more room

class MainWindow : public QMainWindow, public platform::Shell, public app::RunWindow {
    Q_OBJECT

  public:
    // `desktop` is borrowed for the window's life. The settings file is `settings_path`, and
    // every other file keeps its fixed name in the current directory.
    MainWindow(platform::Desktop& desktop, std::string settings_path);
    ~MainWindow() override;

    // Start-up before the window shows: settings, engines, the project's name. Then show() and
    // post_load() load the project once the window is on screen.
    void start_up();
    void post_load();

    // Runs command `id` as if its menu item or button was used; ids without a handler do
    // nothing.
    void dispatch(int id);
    // Closes the window (saving project and settings) as soon as no handler is running: for a
    // request from outside the window (the session ending).
    void request_close();
    // The same for a signal (SIGTERM, SIGINT): from now on errors go to standard error, never
    // to a box that would wait for a person who is gone.
    void close_on_signal();
    // Whether the last close wrote the project and the settings (or had nothing to write).
    [[nodiscard]] bool saved_on_close() const { return saved_on_close_; }

    [[nodiscard]] app::Context& context() { return ctx_; }
    [[nodiscard]] QAction* action(int id) const;
    [[nodiscard]] QTabWidget* tabs() const { return tabs_; }
    [[nodiscard]] QTableView* links_view() const { return links_view_; }
    [[nodiscard]] QTableView* addresses_view() const { return addresses_view_; }
    [[nodiscard]] ItemListModel* links_model() const { return links_model_; }
    [[nodiscard]] ItemListModel* addresses_model() const { return addresses_model_; }
    [[nodiscard]] QPushButton* start_button() const { return start_; }
    [[nodiscard]] QPushButton* cancel_button() const { return cancel_; }
    [[nodiscard]] QLabel* status_text() const { return status_text_; }
    [[nodiscard]] QLabel* address_count() const { return address_count_; }
    [[nodiscard]] QLabel* progress() const { return progress_; }
    [[nodiscard]] HarvestPage* harvest_page() const { return harvest_page_; }
    [[nodiscard]] DetailsPage* details_page() const { return details_page_; }
    [[nodiscard]] StatusDialog* status_dialog() const { return status_dialog_; }
    [[nodiscard]] const store::ItemRecord* current_item() const { return current_item_; }
    [[nodiscard]] QMenu* context_menu(bool links) const;
    // Verify asks `lookup` whether an address's domain takes mail (tests give their own).
    void set_mail_lookup(std::unique_ptr<platform::MailLookup> lookup) {
        mail_lookup_ = std::move(lookup);
    }
    // Counters, status-bar texts and the views' batches of rows are painted at most ten times
    // a second; paints what is waiting now (tests).
    void flush_display();

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

    // ---- RunWindow ------------------------------------------------------------------------
    void enable_controls(bool running, bool views_enabled) override;
    void busy_cursor(bool busy) override;
    bool confirm(std::string_view question) override;
    bool version_dialog_open() override { return false; }
    void show_activity(std::string_view) override {}
    void post_transfer_ended() override {}
    void open_status_dialog() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Where a command shows: a menu of the menu bar, a view's context menu, or nowhere (a
    // button, a key or a posted command).
    enum class Menu { None, File, Edit, View, Options, Help, LinksContext, AddressesContext };
    using Handler = void (MainWindow::*)();
    // One row of the command table. A row without a handler is a disabled item until its
    // handler comes; a row with id kSeparator is a separator in its menu.
    struct Command {
        int id = 0;
        Menu menu = Menu::None;
        const char* text = "";
        QKeySequence shortcut;
        bool idle_only = false;  // disabled while a harvest runs
        Handler handler = nullptr;
    };
    static constexpr int kSeparator = 0;
    [[nodiscard]] static std::vector<Command> command_table();
    [[nodiscard]] const Command* command(int id) const;

    void build_menus();
    QAction* add_command(QMenu* menu, const Command& command);
    void build_views();
    void build_tabs();
    void build_status_bar();
    void place_controls();
    void update_enabling();
    void set_window_title();

    // Command handlers.
    void load_project();
    void save_project();
    void quit();
    void delete_focused();
    void select_all_links() { select_all(1); }
    void select_all_addresses() { select_all(2); }
    void open_focused_url() { open_focused(false); }
    void open_focused_source() { open_focused(true); }
    void reset_link_status();
    void delete_links();
    void clear_project();
    void show_about();
    void cancel_harvest();
    // Paste and the Edit menu's Select All are enabled and do nothing: the views take nothing
    // from the clipboard, and Ctrl+A in a view selects through the view itself.
    void nothing_to_do() {}

    void exit_sequence();
    void start_or_status();
    void tab_changed(int index);
    void commit_page(int tab);
    void fill_page(int tab);
    void row_event(bool links, int row, bool double_click);
    void show_context_menu(bool links, const QPoint& at);

    // The view the keyboard focus is in: 1 links, 2 addresses, 0 neither.
    [[nodiscard]] int focused_view() const;
    void copy_focused();
    void open_focused(bool source);
    void delete_selected(int which);
    void select_all(int which);
    void hand_to_browser(const std::string& url);
    void paint_counters();
    void schedule_paint();
    // A line of the window's own in the status bar, at once (a line waiting to be painted
    // does not replace it).
    void show_status_text(const QString& text);
    void forget_current_item();
    void verify_current();
    // The list views' column widths a person may set, from and to the settings.
    void apply_column_widths();
    void keep_column_widths();

    platform::Desktop& desktop_;
    const std::string settings_path_;
    app::Context ctx_{*this};
    platform::qt::QtEventLoop loop_{ctx_.events()};
    platform::qt::QtNetwork network_{ctx_.events()};
    app::HarvestRun* run_ = nullptr;

    std::vector<Command> commands_;
    std::map<int, QAction*> actions_;
    QMenu* links_menu_ = nullptr;
    QMenu* addresses_menu_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    SearchPage* name_page_ = nullptr;
    SearchPage* web_page_ = nullptr;
    HarvestPage* harvest_page_ = nullptr;
    DetailsPage* details_page_ = nullptr;
    QTableView* links_view_ = nullptr;
    QTableView* addresses_view_ = nullptr;
    ItemListModel* links_model_ = nullptr;
    ItemListModel* addresses_model_ = nullptr;
    QWidget* banner_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QLabel* status_text_ = nullptr;
    QLabel* address_count_ = nullptr;
    QLabel* progress_ = nullptr;  // the run's figures in the status bar
    QPointer<StatusDialog> status_dialog_;
    std::unique_ptr<platform::MailLookup> mail_lookup_;
    std::string default_columns_;  // the widths the views start with, as "columns=" writes them
    bool verifying_ = false;       // the run is a Verify of the Details page's link

    int current_tab_ = kNameSearchTab;
    const store::ItemRecord* current_item_ = nullptr;
    int current_item_list_ = 0;  // 1 links, 2 addresses
    bool running_ = false;
    bool views_enabled_ = true;
    bool paste_enabled_ = true;
    bool ignore_row_events_ = false;
    bool closing_ = false;
    bool project_unreadable_ = false;  // the project file could not be read: never saved over
    bool locked_out_ = false;          // another program holds the project: nothing is written
    bool signalled_ = false;           // closing on a signal: errors go to standard error
    bool saved_on_close_ = true;
    int dispatch_depth_ = 0;  // commands being handled (a modal dialog nests them)

    // Coalesced painting of the status line and the counters.
    QTimer paint_timer_;
    QString pending_status_;
    bool status_pending_ = false;
    bool counters_pending_ = false;

    // Errors told while a harvest runs wait for the event loop: a modal box opened deep inside
    // the handling of a response would run the harvest's events under that response.
    void show_pending_errors();
    std::vector<std::string> pending_errors_;
    bool errors_scheduled_ = false;
    bool showing_errors_ = false;
};

}  // namespace tarnvelox::ui
