#pragma once

// MainWindow: the desktop program's one main window. It owns the program's context and the
// Qt platform binding, shows everything the core reports (through WindowShell, the core's
// Shell and RunWindow) and turns every menu item, button and view event into a call on the
// core. It holds no
// harvesting logic: the four tab pages, the two list views over the in-memory lists, Start and
// Cancel, the two-part status bar, the menus and the context menus, laid out by the column
// rule (the addresses view shows only while the window is wider than the links view's width
// plus 50 pixels).
//
// Commands carry the ids of the program's command table (QAction::data); the table, dispatch
// and the handlers are in main_window_commands.cpp. One thread; every handler may be entered
// from inside a modal dialog opened by another.

#include <QKeySequence>
#include <QMainWindow>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/command_ids.h"
#include "app/context.h"
#include "app/product.h"
#include "app/project_commands.h"
#include "app/run_control.h"
#include "browser/browser.h"
#include "platform/desktop.h"
#include "platform/mail_lookup.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_network.h"
#include "ui/list_pane.h"
#include "ui/vendor_view.h"
#include "ui/window_shell.h"

class QAction;
class QMenu;
class QPushButton;
class QTabWidget;
class QTableView;

namespace tarnvelox::ui {

class DetailsPage;
class HarvestPage;
class SearchPage;

namespace cmd = app::cmd;

// The tabs, in order.
enum Tab : int { kNameSearchTab = 0, kWebSearchTab = 1, kHarvestTab = 2, kDetailsTab = 3 };

inline constexpr int kLinksViewWidth = 640;  // the left column's width at its narrowest
inline constexpr int kAddressesMargin = 50;  // the addresses view needs this much more room

// The address a vendor page opens at: its own when one was set when building, else the
// file:// URL of its installed document (beside the program, in the install folders, or in
// the source tree for a program run from the build folder); empty when none is there.
[[nodiscard]] std::string vendor_page_url(const app::VendorPage& page);

class MainWindow : public QMainWindow, public WindowShell {
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

    [[nodiscard]] app::Context& context() { return ctx_; }
    [[nodiscard]] QAction* action(int id) const;
    [[nodiscard]] QTabWidget* tabs() const { return tabs_; }
    [[nodiscard]] QTableView* links_view() const { return links_->view(); }
    [[nodiscard]] QTableView* addresses_view() const { return addresses_->view(); }
    [[nodiscard]] ItemListModel* links_model() const { return links_->model(); }
    [[nodiscard]] ItemListModel* addresses_model() const { return addresses_->model(); }
    [[nodiscard]] QPushButton* start_button() const { return start_; }
    [[nodiscard]] QPushButton* cancel_button() const { return cancel_; }
    [[nodiscard]] HarvestPage* harvest_page() const { return harvest_page_; }
    [[nodiscard]] DetailsPage* details_page() const { return details_page_; }
    [[nodiscard]] const store::ItemRecord* current_item() const { return current_item_; }
    [[nodiscard]] QMenu* context_menu(bool links) const {
        return links ? links_->menu() : addresses_->menu();
    }
    // Verify asks `lookup` whether an address's domain takes mail (tests give their own).
    void set_mail_lookup(std::unique_ptr<platform::MailLookup> lookup) {
        mail_lookup_ = std::move(lookup);
    }

    // ---- RunWindow (the rest is WindowShell's) ---------------------------------------------
    void enable_controls(bool running, bool views_enabled) override;
    void open_page(const std::string& url) override { hand_to_browser(url); }
    bool version_dialog_open() override { return vendor_->dialog_open(); }
    void show_activity(std::string_view text) override { vendor_->show_activity(text); }
    void post_transfer_ended() override { vendor_->transfer_ended(); }
    [[nodiscard]] VendorDialogs& vendor_dialogs() { return *vendor_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void record_leaving(ListKind kind, int row) override;
    void link_changed(const store::ItemRecord& rec) override;
    void records_cleared() override;

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
    void place_controls();
    void update_enabling();
    void set_window_title();

    // Command handlers (start_or_status and load_project too).
    void load_project();
    void save_project();
    void quit();
    void delete_focused();
    void select_all_links() { select_all(*links_); }
    void select_all_addresses() { select_all(*addresses_); }
    void open_focused_url() { open_focused(false); }
    void open_focused_source() { open_focused(true); }
    void reset_link_status();
    void delete_links();
    void clear_project();
    void show_about();
    void open_faq() { open_vendor_page(app::kFaqPage); }
    void open_home_page() { open_vendor_page(app::kHomePage); }
    void open_vendor_page(const app::VendorPage& page);
    void open_version_check() { vendor_->open_version_check(); }
    // The downloads folder of the data folder, handed to the browser; any other folder is
    // refused. False when it could not be shown.
    bool open_downloads_folder(const std::string& folder);
    void edit_preferences();
    void cancel_harvest();
    // The File menu's projects, export and import (main_window_files.cpp).
    void open_project();
    void new_project();
    void switch_project(app::OpenKind kind);
    void save_project_as();
    void delete_project();
    void show_project(const app::ProjectOutcome& outcome);
    void export_items();
    void import_items();
    // Paste and the Edit menu's Select All are enabled and do nothing: the views take nothing
    // from the clipboard, and Ctrl+A in a view selects through the view itself.
    void nothing_to_do() {}

    void exit_sequence();
    void start_or_status();
    void tab_changed(int index);
    void commit_page(int tab);
    void fill_page(int tab);
    void row_event(ListPane& list, int row, bool double_click);
    // The ">>" of an engine row: its request fetched alone and shown in the browser.
    void fetch_engine_page(SearchPage& page, const store::ItemRecord& engine);

    [[nodiscard]] ListPane& pane(ListKind kind) const {
        return kind == ListKind::Links ? *links_ : *addresses_;
    }
    // The pane whose view has the keyboard focus, or null.
    [[nodiscard]] ListPane* focused_pane() const;
    void copy_focused();
    void open_focused(bool source);
    void delete_selected(ListPane& list);
    void select_all(ListPane& list);
    // The window's one way to a browser: a link, a source, an address to mail, a saved page.
    void hand_to_browser(const std::string& url);
    void forget_current_item();
    void verify_current();
    // The list views' column widths a person may set, from and to the settings.
    void apply_column_widths();
    void keep_column_widths();

    const std::string settings_path_;
    app::Context ctx_{*this};
    platform::qt::QtEventLoop loop_{ctx_.events()};
    platform::qt::QtNetwork network_{ctx_.events()};
    app::HarvestRun* run_ = nullptr;
    browser::Handoff handoff_{desktop_};
    std::unique_ptr<VendorDialogs> vendor_;

    std::vector<Command> commands_;
    std::map<int, QAction*> actions_;
    QTabWidget* tabs_ = nullptr;
    SearchPage* name_page_ = nullptr;
    SearchPage* web_page_ = nullptr;
    HarvestPage* harvest_page_ = nullptr;
    DetailsPage* details_page_ = nullptr;
    ListPane* links_ = nullptr;
    ListPane* addresses_ = nullptr;
    QWidget* banner_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* cancel_ = nullptr;
    std::unique_ptr<platform::MailLookup> mail_lookup_;
    std::string default_columns_;  // the widths the views start with, as "columns=" writes them
    bool verifying_ = false;       // the run is a Verify of the Details page's link

    int current_tab_ = kNameSearchTab;
    const store::ItemRecord* current_item_ = nullptr;
    ListKind current_item_list_ = ListKind::Links;  // the list current_item_ is in
    bool running_ = false;
    bool views_enabled_ = true;
    bool paste_enabled_ = true;
    bool ignore_row_events_ = false;
    bool closing_ = false;
    int dispatch_depth_ = 0;           // commands being handled (a modal dialog nests them)
};

}  // namespace tarnvelox::ui
