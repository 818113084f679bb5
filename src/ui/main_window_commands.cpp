#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QTableView>
#include <filesystem>
#include <map>
#include <string_view>
#include <vector>

#include "app/list_commands.h"
#include "app/verify.h"
#include "net/download.h"
#include "platform/qt/qt_text.h"
#include "store/tree_format.h"
#include "ui/dialogs/about_dialog.h"
#include "ui/dialogs/preferences_dialog.h"
#include "ui/main_window.h"
#include "ui/pages/details_page.h"
#include "ui/pages/page_fields.h"

// The window's commands: the command table, dispatch, and the handlers of the commands that
// act on the lists, the project and the run.

namespace tarnvelox::ui {

using platform::qt::to_qstring;

// The command table: every menu item, context-menu item, button and posted command of the
// window, in menu order. A command gets its handler by one row here and one function.
std::vector<MainWindow::Command> MainWindow::command_table() {
    constexpr bool kIdleOnly = true;  // disabled while a harvest runs
    constexpr bool kAlways = false;
    const QKeySequence none;
    using M = MainWindow;
    const auto separator = [](Menu menu) {
        return Command{kSeparator, menu, "", {}, false, nullptr};
    };
    return {
        {cmd::kOpen, Menu::File, "&Open", QKeySequence::Open, kIdleOnly, &M::open_project},
        {cmd::kNew, Menu::File, "&New", QKeySequence::New, kIdleOnly, &M::new_project},
        {cmd::kSave, Menu::File, "&Save", QKeySequence::Save, kAlways, &M::save_project},
        {cmd::kSaveAs, Menu::File, "Save &As", QKeySequence::SaveAs, kAlways,
         &M::save_project_as},
        separator(Menu::File),
        {cmd::kDeleteProject, Menu::File, "&Delete", none, kIdleOnly, &M::delete_project},
        separator(Menu::File),
        {cmd::kExport, Menu::File, "&Export", none, kIdleOnly, &M::export_items},
        {cmd::kImport, Menu::File, "&Import", none, kIdleOnly, &M::import_items},
        separator(Menu::File),
        {cmd::kVersionCheck, Menu::File, "Online &Version Check", none, kIdleOnly,
         &M::open_version_check},
        separator(Menu::File),
        {cmd::kQuit, Menu::File, "&Quit", QKeySequence(Qt::ALT | Qt::Key_F4), kAlways, &M::quit},

        {cmd::kCopy, Menu::Edit, "&Copy", QKeySequence::Copy, kIdleOnly, &M::copy_focused},
        {cmd::kPaste, Menu::Edit, "&Paste", QKeySequence::Paste, kIdleOnly, &M::nothing_to_do},
        {cmd::kDelete, Menu::Edit, "&Delete", QKeySequence::Delete, kAlways, &M::delete_focused},
        separator(Menu::Edit),
        {cmd::kSelectAll, Menu::Edit, "&Select All", none, kAlways, &M::nothing_to_do},

        {cmd::kStatus, Menu::View, "&Status", none, kAlways, &M::open_status_dialog},

        {cmd::kPreferences, Menu::Options, "&Preferences", none, kAlways, &M::edit_preferences},
        separator(Menu::Options),
        {cmd::kResetLinkStatus, Menu::Options, "&Reset Link Status", none, kIdleOnly,
         &M::reset_link_status},
        {cmd::kDeleteLinks, Menu::Options, "&Delete Links", none, kIdleOnly, &M::delete_links},
        separator(Menu::Options),
        {cmd::kClearProject, Menu::Options, "Clear Project", none, kIdleOnly, &M::clear_project},

        {cmd::kAbout, Menu::Help, "&About...", none, kAlways, &M::show_about},
        separator(Menu::Help),
        {cmd::kFaq, Menu::Help, "&FAQ", none, kAlways, &M::open_faq},
        separator(Menu::Help),
        {cmd::kHomePage, Menu::Help, "&Home Page", none, kAlways, &M::open_home_page},

        // The context menus act on the view they were opened over. Their items have no
        // shortcuts of their own; the Edit menu's serve.
        {cmd::kLinkOpen, Menu::LinksContext, "&Open", none, kAlways, &M::open_focused_url},
        {cmd::kLinkOpenSource, Menu::LinksContext, "Open Sou&rce", none, kAlways,
         &M::open_focused_source},
        separator(Menu::LinksContext),
        {cmd::kLinkCopy, Menu::LinksContext, "&Copy Link Location", none, kAlways,
         &M::copy_focused},
        {cmd::kLinkDelete, Menu::LinksContext, "&Delete", none, kAlways, &M::delete_focused},
        separator(Menu::LinksContext),
        {cmd::kLinkSelectAll, Menu::LinksContext, "&Select All", none, kAlways,
         &M::select_all_links},

        {cmd::kAddressSend, Menu::AddressesContext, "&Send", none, kAlways, &M::open_focused_url},
        separator(Menu::AddressesContext),
        {cmd::kAddressOpenSource, Menu::AddressesContext, "Open Sou&rce", none, kAlways,
         &M::open_focused_source},
        {cmd::kAddressCopy, Menu::AddressesContext, "&Copy", none, kAlways, &M::copy_focused},
        {cmd::kAddressDelete, Menu::AddressesContext, "&Delete", none, kAlways, &M::delete_focused},
        separator(Menu::AddressesContext),
        {cmd::kAddressSelectAll, Menu::AddressesContext, "&Select All", none, kAlways,
         &M::select_all_addresses},

        // Buttons, keys and posted commands.
        {cmd::kClose, Menu::None, "", none, kAlways, &M::quit},
        {cmd::kStart, Menu::None, "", none, kAlways, &M::start_or_status},
        {cmd::kCancel, Menu::None, "", none, kAlways, &M::cancel_harvest},
        {cmd::kLoadProject, Menu::None, "", none, kAlways, &M::load_project},
    };
}

const MainWindow::Command* MainWindow::command(int id) const {
    for (const Command& c : commands_) {
        if (c.id == id && id != kSeparator) return &c;
    }
    return nullptr;
}

QAction* MainWindow::add_command(QMenu* menu, const Command& c) {
    const int id = c.id;
    auto* act = new QAction(c.text, menu);
    act->setData(id);
    act->setObjectName(QString("command_%1").arg(id));
    act->setShortcut(c.shortcut);
    act->setShortcutContext(Qt::WindowShortcut);
    act->setToolTip(spoken(c.text));
    // An item whose command has no handler yet is shown disabled, never as one that does
    // nothing.
    act->setEnabled(c.handler != nullptr);
    menu->addAction(act);
    connect(act, &QAction::triggered, this, [this, id] { dispatch(id); });
    actions_.emplace(id, act);
    return act;
}

void MainWindow::build_menus() {
    commands_ = command_table();
    QMenuBar* bar = menuBar();
    std::map<Menu, QMenu*> menus;
    menus[Menu::File] = bar->addMenu("&File");
    menus[Menu::Edit] = bar->addMenu("&Edit");
    menus[Menu::View] = bar->addMenu("&View");
    menus[Menu::Options] = bar->addMenu("&Options");
    menus[Menu::Help] = bar->addMenu("&Help");
    menus[Menu::LinksContext] = links_->menu();
    menus[Menu::AddressesContext] = addresses_->menu();
    for (const Command& c : commands_) {
        if (c.menu == Menu::None) continue;
        QMenu* menu = menus.at(c.menu);
        if (c.id == kSeparator) {
            menu->addSeparator();
        } else {
            add_command(menu, c);
        }
    }
}

QAction* MainWindow::action(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::dispatch(int id) {
    if (closing_) return;
    ++dispatch_depth_;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{dispatch_depth_};
    const Command* c = command(id);
    if (c != nullptr && c->handler != nullptr) (this->*(c->handler))();
}

void MainWindow::save_project() {
    // The person's own Save writes the project, also over one that could not be read.
    commit_page(current_tab_);
    (void)ctx_.save_current_project();
}

void MainWindow::quit() { close(); }

void MainWindow::delete_focused() {
    if (ListPane* focused = focused_pane()) delete_selected(*focused);
}

void MainWindow::reset_link_status() {
    if (!running_) run_->reset_link_status();
    update_enabling();
}

void MainWindow::delete_links() {
    current_item_ = nullptr;
    (void)app::delete_links(ctx_, *this);
    update_enabling();
}

void MainWindow::clear_project() {
    if (app::clear_project(ctx_, *this)) show_status_text({});
    paint_counters();
    update_enabling();
}

void MainWindow::show_about() {
    AboutDialog about(ctx_.settings.version, this);
    about.exec();
}

// Also while a harvest runs: what OK changes acts at once (the tick's period at the next
// Start), and the settings file is written, so a crash later keeps the change.
void MainWindow::edit_preferences() {
    // The browsers found at start-up, and the one set now (the dialog drops repeats).
    std::vector<std::string> browsers = ctx_.browsers;
    if (ctx_.settings.browser) browsers.push_back(*ctx_.settings.browser);
    const std::optional<app::Preferences> edited =
        run_preferences_dialog(this, app::preferences_of(ctx_.settings), browsers);
    if (!edited || closing_) return;
    app::apply_preferences(*edited, ctx_.settings);
    run_->apply_settings();
    run_->enable_controls(running_);  // a list maximum of 0 disables the views
    (void)ctx_.save_settings(settings_path_);
}

void MainWindow::cancel_harvest() { run_->cancel_harvest(); }

void MainWindow::start_or_status() {
    if (run_->running()) {
        open_status_dialog();
        return;
    }
    commit_page(current_tab_);
    const std::string missing = run_->missing_for_start(current_tab_);
    if (!missing.empty()) {
        show_status_text(to_qstring(missing));
        return;
    }
    if (run_->start_harvest(current_tab_) == 0) return;
    // Written at Start as well as at exit: a crash or kill mid-run then keeps the project's
    // fields and settings beside the links and addresses already stored.
    if (!ctx_.project_unreadable) (void)ctx_.save_current_project();
    (void)ctx_.save_settings(settings_path_);
}

ListPane* MainWindow::focused_pane() const {
    const QWidget* focus = QApplication::focusWidget();
    if (focus == links_->view()) return links_;
    if (focus == addresses_->view()) return addresses_;
    return nullptr;
}

void MainWindow::copy_focused() {
    const ListPane* focused = focused_pane();
    if (focused == nullptr) return;
    const store::ItemRecord* rec = focused->current_record();
    if (rec != nullptr && rec->url) (void)desktop_.set_clipboard_text(*rec->url);
}

void MainWindow::open_focused(bool source) {
    const ListPane* focused = focused_pane();
    if (focused == nullptr) return;
    const store::ItemRecord* rec = focused->current_record();
    if (rec == nullptr) return;
    const std::optional<std::string>& target = source ? rec->source : rec->url;
    if (target) hand_to_browser(*target);
}

void MainWindow::hand_to_browser(const std::string& url) {
    (void)handoff_.open_in_browser(url, ctx_.settings.browser.value_or(std::string()),
                                   ctx_.settings.newwin);
}

std::string vendor_page_url(const app::VendorPage& page) {
    if (*page.url != '\0') return page.url;
    const bool manual = std::string_view(page.document) == app::kManualDocument;
    const QString name = QString::fromUtf8(page.document);
    const QString installed_beside =
        QCoreApplication::applicationDirPath() +
        (manual ? "/../share/man/man1/" : "/../share/doc/tarnvelox/") + name;
    const QString candidates[] = {
        installed_beside,
        QString(manual ? TARNVELOX_MAN1_DIR : TARNVELOX_DOC_DIR) + "/" + name,
        QString(TARNVELOX_SOURCE_DIR) + (manual ? "/docs/" : "/") + name,
    };
    for (const QString& path : candidates) {
        if (QFileInfo(path).isFile()) {
            return browser::file_url(QFileInfo(path).canonicalFilePath().toStdString());
        }
    }
    return {};
}

void MainWindow::open_vendor_page(const app::VendorPage& page) {
    const std::string url = vendor_page_url(page);
    if (!url.empty()) hand_to_browser(url);
}

bool MainWindow::open_downloads_folder(const std::string& folder) {
    // Only the folder the setup file was saved in, never the file: nothing downloaded is run.
    const std::filesystem::path downloads(net::downloads_folder(ctx_.net));
    if (std::filesystem::path(folder).lexically_normal() != downloads.lexically_normal()) {
        return false;
    }
    return handoff_.open_folder(folder, ctx_.settings.browser.value_or(std::string()),
                                ctx_.settings.newwin) != 0;
}

void MainWindow::delete_selected(ListPane& list) {
    list.model()->flush();
    std::vector<int32_t> rows = list.selected_rows();
    if (rows.empty()) return;
    current_item_ = nullptr;
    if (tabs_->currentIndex() == kDetailsTab) details_page_->show_record(nullptr);
    ignore_row_events_ = true;
    (void)app::delete_selected_rows(ctx_, list.tree_file(), rows);
    if (list.is_links()) {
        std::size_t held = 0;
        const store::ItemList& links = ctx_.lists.links;
        for (int32_t row : rows) {
            if (row < links.size() && (links.at(row).status & store::STATUS_ACTIVE) != 0) ++held;
        }
        if (held > 0) show_status_text(to_qstring(app::kept_rows_text(held)));
    }
    list.model()->flush();  // the rows that went leave the view before the selection is set
    // What could not go (a link a connection is fetching) stays selected.
    list.select_rows(rows);
    ignore_row_events_ = false;
    update_enabling();
}

// Verify: a link is fetched again now and shows its new state; for an address, the name
// service is asked whether its domain takes mail. The answer is said on the Details page.
void MainWindow::verify_current() {
    const store::ItemRecord* rec = current_item_;
    if (rec == nullptr || running_) return;
    if (current_item_list_ == ListKind::Links) {
        details_page_->show_note("Fetching the link again...");
        verifying_ = run_->verify_link(*rec) != 0;
        if (!verifying_) details_page_->show_note("The link cannot be fetched now.");
        return;
    }
    const std::optional<std::string> domain = app::mail_domain(rec->url.value_or(""));
    if (!domain) {
        details_page_->show_note("This address names no domain to ask about.");
        return;
    }
    details_page_->show_note(to_qstring("Asking whether " + *domain + " takes mail..."));
    mail_lookup_->ask(*domain, [this, rec, name = *domain](platform::MailAnswer answer,
                                                           const std::string& detail) {
        // The answer belongs to the record it was asked for, if that is still shown.
        if (current_item_ != rec || details_page_ == nullptr) return;
        details_page_->show_note(to_qstring(app::mail_answer_text(name, answer, detail)));
    });
}

void MainWindow::select_all(ListPane& list) {
    ignore_row_events_ = true;
    list.select_all();
    ignore_row_events_ = false;
    list.view()->setFocus(Qt::OtherFocusReason);
}

void MainWindow::update_enabling() {
    for (const Command& c : commands_) {
        QAction* a = action(c.id);
        if (a != nullptr) a->setEnabled(c.handler != nullptr && !(running_ && c.idle_only));
    }
    action(cmd::kPaste)->setEnabled(!running_ && paste_enabled_);
    // Reset Link Status and Delete Links need rows in the links view.
    const bool has_links = ctx_.lists.links.row_count > 0;
    action(cmd::kResetLinkStatus)->setEnabled(!running_ && has_links);
    action(cmd::kDeleteLinks)->setEnabled(!running_ && has_links);
}

}  // namespace tarnvelox::ui
