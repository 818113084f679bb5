#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/list_commands.h"
#include "app/product.h"
#include "app/settings.h"
#include "app/verify.h"
#include "harvest/list_rows.h"
#include "platform/qt/qt_mail_lookup.h"
#include "platform/qt/qt_text.h"
#include "search/engines.h"
#include "ui/dialogs/about_dialog.h"
#include "ui/dialogs/loading_dialog.h"
#include "ui/item_models.h"
#include "ui/link_icons.h"
#include "ui/pages/details_page.h"
#include "ui/pages/harvest_page.h"
#include "ui/pages/search_page.h"

namespace tarnvelox::ui {

namespace {

using app::kProductName;
using platform::qt::to_qstring;

constexpr int kTabsHeight = 260;  // the tab control's height
constexpr int kButtonWidth = 96;
constexpr int kButtonHeight = 30;
constexpr int kButtonInset = 12;  // Start and Cancel sit this far inside the left column
constexpr int kGap = 5;           // between the left column and the addresses view
// Start and Cancel: letters no field, tab or menu of the window takes.
constexpr const char* kStartText = "St&art";
constexpr const char* kStatusText = "St&atus";
constexpr const char* kCancelText = "Cance&l";
constexpr int kCloseRetryMs = 50;  // a close asked for inside a handler waits this long
// The smallest window that keeps the tabs, the buttons and some rows of the links view usable.
constexpr int kMinimumHeight = 540;

QString spoken(const QString& text) {
    QString out = text;
    out.remove(QLatin1Char('&'));
    const qsizetype tab = out.indexOf(QLatin1Char('\t'));
    return tab >= 0 ? out.left(tab) : out;
}

}  // namespace

MainWindow::MainWindow(platform::Desktop& desktop, std::string settings_path)
    : WindowShell(desktop), settings_path_(std::move(settings_path)) {
    setWindowTitle(kProductName);
    setAccessibleName(kProductName);
    build_views();
    build_menus();
    build_status_bar(statusBar(), this);
    // Escape closes the window, as its close box does.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] { dispatch(cmd::kClose); });
    run_ = &ctx_.attach(loop_, network_, *this);
    attach(this, ctx_, *run_, *links_, *addresses_);
    mail_lookup_ = std::make_unique<platform::qt::QtMailLookup>();
    setMinimumSize(kLinksViewWidth, kMinimumHeight);
}

MainWindow::~MainWindow() {
    // The views must not read the lists while the context goes.
    closing_ = true;
    links_->detach();
    addresses_->detach();
}

// ---- Start-up -------------------------------------------------------------------------------

void MainWindow::start_up() {
    desktop_.busy_cursor(true);
    ctx_.read_settings_file(settings_path_);
    (void)search::load_engines(ctx_.engines, std::string(search::kEnginesFile), *this);
    if (!ctx_.settings.project || ctx_.settings.project->empty()) {
        ctx_.settings.project = std::string(app::kDefaultProjectFile);
    }
    ctx_.search.crawl_scope = ctx_.settings.start2;
    desktop_.busy_cursor(false);
    build_tabs();
    setWindowIcon(program_icon());
    paste_enabled_ = desktop_.clipboard_has_text();
    cancel_->setText(kCancelText);
    enable_controls(false, ctx_.settings.maxlist != 0);
    apply_column_widths();
    resize(1100, 720);
}

void MainWindow::post_load() {
    QMetaObject::invokeMethod(
        this, [this] { dispatch(cmd::kLoadProject); }, Qt::QueuedConnection);
}

void MainWindow::load_project() {
    // One writer per project: a project another window or harvester works on is left alone,
    // and this window closes without writing anything.
    if (ctx_.lock_current_project() == app::Context::ProjectLock::InUse) {
        locked_out_ = true;
        saved_on_close_ = false;  // the exit status tells a script that nothing was done
        desktop_.message_box("Error", ctx_.project_in_use_message() + " This window closes.",
                             platform::MessageIcon::Error);
        request_close();
        return;
    }
    LoadingDialog dialog(this);
    dialog.show();
    ignore_row_events_ = true;
    views_cleared();
    const int loaded = ctx_.load_current_project(&dialog);
    dialog.show_final(ctx_.store.total_links, ctx_.run.bad_links, ctx_.store.total_addresses);
    // A project file that cannot be read (the person was told) leaves the lists empty, and is
    // not saved over on exit: its texts would be lost.
    project_unreadable_ = loaded == 0;
    // Damage is told now, not first at Start.
    if (loaded != 0) ctx_.check_loaded_project_files();
    set_window_title();
    fill_page(current_tab_);
    refresh_status_counters();
    dialog.close();
    harvest::refill_views(ctx_.lists, *this, ctx_.settings.maxlist);
    links_->model()->flush();
    addresses_->model()->flush();
    ignore_row_events_ = false;
    update_enabling();
    if (loaded == app::Context::kLoadedWithoutProjectFile) {
        status_text()->setText(to_qstring(app::kProjectFileMissingNote));
    }
}

void MainWindow::set_window_title() {
    const std::string name = ctx_.settings.project.value_or("");
    setWindowTitle(QString(kProductName) + " - [" + to_qstring(name) + "]");
    // A screen reader says the project's name, as the title shows it.
    setAccessibleName(windowTitle());
}

// ---- Building the window --------------------------------------------------------------------

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
        {cmd::kOpen, Menu::File, "&Open", QKeySequence::Open, kIdleOnly, nullptr},
        {cmd::kNew, Menu::File, "&New", QKeySequence::New, kIdleOnly, nullptr},
        {cmd::kSave, Menu::File, "&Save", QKeySequence::Save, kAlways, &M::save_project},
        {cmd::kSaveAs, Menu::File, "Save &As", QKeySequence::SaveAs, kAlways, nullptr},
        separator(Menu::File),
        {cmd::kDeleteProject, Menu::File, "&Delete", none, kIdleOnly, nullptr},
        separator(Menu::File),
        {cmd::kExport, Menu::File, "&Export", none, kIdleOnly, nullptr},
        {cmd::kImport, Menu::File, "&Import", none, kIdleOnly, nullptr},
        separator(Menu::File),
        {cmd::kVersionCheck, Menu::File, "Online &Version Check", none, kIdleOnly, nullptr},
        separator(Menu::File),
        {cmd::kQuit, Menu::File, "&Quit", QKeySequence(Qt::ALT | Qt::Key_F4), kAlways, &M::quit},

        {cmd::kCopy, Menu::Edit, "&Copy", QKeySequence::Copy, kIdleOnly, &M::copy_focused},
        {cmd::kPaste, Menu::Edit, "&Paste", QKeySequence::Paste, kIdleOnly, &M::nothing_to_do},
        {cmd::kDelete, Menu::Edit, "&Delete", QKeySequence::Delete, kAlways, &M::delete_focused},
        separator(Menu::Edit),
        {cmd::kSelectAll, Menu::Edit, "&Select All", none, kAlways, &M::nothing_to_do},

        {cmd::kStatus, Menu::View, "&Status", none, kAlways, &M::open_status_dialog},

        {cmd::kPreferences, Menu::Options, "&Preferences", none, kAlways, nullptr},
        separator(Menu::Options),
        {cmd::kResetLinkStatus, Menu::Options, "&Reset Link Status", none, kIdleOnly,
         &M::reset_link_status},
        {cmd::kDeleteLinks, Menu::Options, "&Delete Links", none, kIdleOnly, &M::delete_links},
        separator(Menu::Options),
        {cmd::kClearProject, Menu::Options, "Clear Project", none, kIdleOnly, &M::clear_project},

        {cmd::kAbout, Menu::Help, "&About...", none, kAlways, &M::show_about},
        separator(Menu::Help),
        {cmd::kFaq, Menu::Help, "&FAQ", none, kAlways, nullptr},
        separator(Menu::Help),
        {cmd::kHomePage, Menu::Help, "&Home Page", none, kAlways, nullptr},

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

void MainWindow::build_views() {
    auto* area = new QWidget(this);
    setCentralWidget(area);
    area->installEventFilter(this);

    tabs_ = new QTabWidget(area);
    tabs_->setAccessibleName("Tabs");

    links_ = new ListPane(ListKind::Links, ctx_.lists.links, ctx_.search, area, this);
    addresses_ = new ListPane(ListKind::Addresses, ctx_.lists.addresses, ctx_.search, area, this);
    for (ListPane* pane : {links_, addresses_}) {
        connect(pane, &ListPane::row_event, this,
                [this, pane](int row, bool double_click) { row_event(*pane, row, double_click); });
    }
    // A click on any column header of the links view switches column 0 between titles and
    // file names.
    connect(links_, &ListPane::header_clicked, this, [this] {
        if (!ignore_row_events_) links_->model()->toggle_file_names();
    });

    banner_ = new QLabel(QString("<b style='font-size:16pt; color:#1d4f91'>%1</b>"
                                 "<br><span style='color:#555'>e-mail and link harvester</span>")
                             .arg(kProductName),
                         area);
    banner_->setAccessibleName(kProductName);
    start_ = new QPushButton(kStartText, area);
    start_->setDefault(true);
    start_->setAutoDefault(true);
    start_->setAccessibleName(spoken(kStartText));
    cancel_ = new QPushButton(kCancelText, area);
    cancel_->setAccessibleName(spoken(kCancelText));
    cancel_->setEnabled(false);
    connect(start_, &QPushButton::clicked, this, [this] { dispatch(cmd::kStart); });
    connect(cancel_, &QPushButton::clicked, this, [this] { dispatch(cmd::kCancel); });
}

void MainWindow::build_tabs() {
    const int directories = ctx_.engines.directory_count;
    const int engines = ctx_.engines.engine_count;
    name_page_ = new SearchPage(search::EnginePage::NameSearch, ctx_.engines.list, directories);
    web_page_ = new SearchPage(search::EnginePage::WebSearch, ctx_.engines.list, engines);
    harvest_page_ = new HarvestPage;
    details_page_ = new DetailsPage;
    // Ctrl+Tab and Ctrl+Page Down move between the tabs.
    tabs_->addTab(name_page_, "Name Search");
    tabs_->addTab(web_page_, "Web Search");
    tabs_->addTab(harvest_page_, "Harvest");
    tabs_->addTab(details_page_, "Details");
    current_tab_ = kNameSearchTab;
    tabs_->setCurrentIndex(current_tab_);
    connect(tabs_, &QTabWidget::currentChanged, this, &MainWindow::tab_changed);
    connect(details_page_, &DetailsPage::delete_requested, this,
            [this] { delete_selected(pane(current_item_list_)); });
    connect(details_page_, &DetailsPage::verify_requested, this, &MainWindow::verify_current);
    // Start is the window's default button: Enter in a field of a page starts.
    connect(harvest_page_, &HarvestPage::submitted, this, [this] { dispatch(cmd::kStart); });
    connect(name_page_, &SearchPage::submitted, this, [this] { dispatch(cmd::kStart); });
    connect(web_page_, &SearchPage::submitted, this, [this] { dispatch(cmd::kStart); });
    fill_page(current_tab_);
    place_controls();
}

// The column rule: the left column is at least the links view's width; wider windows split in
// half and show the addresses view on the right, narrower ones hide it.
void MainWindow::place_controls() {
    QWidget* area = centralWidget();
    const int width = area->width();
    const int height = area->height();
    int left = kLinksViewWidth;
    const bool addresses = width > kLinksViewWidth + kAddressesMargin;
    if (addresses) {
        left = std::max(left, width / 2);
    } else {
        left = width;
    }
    tabs_->setGeometry(0, 0, left, kTabsHeight);
    const int buttons_top = kTabsHeight + 4;
    const int button_x = left - kButtonInset - kButtonWidth;
    start_->setGeometry(button_x, buttons_top, kButtonWidth, kButtonHeight);
    cancel_->setGeometry(button_x, buttons_top + kButtonHeight + 4, kButtonWidth, kButtonHeight);
    const int links_top = buttons_top + 2 * kButtonHeight + 12;
    banner_->setGeometry(kButtonInset, buttons_top, std::max(0, button_x - 2 * kButtonInset),
                         links_top - buttons_top - 4);
    links_->view()->setGeometry(0, links_top, left, std::max(0, height - links_top));
    if (addresses) {
        const int top = tabs_->tabBar()->height() / 2;  // just below the tab control's top
        addresses_->view()->setGeometry(left + kGap, top, std::max(0, width - left - kGap),
                                        std::max(0, height - top));
        addresses_->view()->show();
    } else {
        addresses_->view()->setGeometry(left, 0, 0, 0);
        addresses_->view()->hide();
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == centralWidget() && event->type() == QEvent::Resize && tabs_ != nullptr) {
        place_controls();
    }
    return QMainWindow::eventFilter(watched, event);
}

QAction* MainWindow::action(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

// ---- Commands -------------------------------------------------------------------------------

void MainWindow::request_close() {
    // Closing frees the lists: never from inside a handler that is showing a dialog or loading
    // a project. Such a dialog is dismissed, and the close waits for the handler to return.
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    if (dispatch_depth_ > 0 || QApplication::activeModalWidget() != nullptr) {
        QTimer::singleShot(kCloseRetryMs, this, &MainWindow::request_close);
        return;
    }
    close();
}

void MainWindow::close_on_signal() {
    errors_to_stderr();
    request_close();
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
    if (ctx_.save_current_project() != 0) project_unreadable_ = false;
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
    if (!project_unreadable_) (void)ctx_.save_current_project();
    (void)ctx_.save_settings(settings_path_);
}

void MainWindow::tab_changed(int index) {
    if (index < 0) return;
    commit_page(current_tab_);
    current_tab_ = index;
    fill_page(current_tab_);
}

void MainWindow::commit_page(int tab) {
    switch (tab) {
        case kNameSearchTab:
            if (name_page_ != nullptr) name_page_->commit(ctx_.search);
            break;
        case kWebSearchTab:
            if (web_page_ != nullptr) web_page_->commit(ctx_.search);
            break;
        case kHarvestTab:
            if (harvest_page_ != nullptr) harvest_page_->commit(ctx_.search);
            break;
        default:
            break;
    }
}

void MainWindow::fill_page(int tab) {
    switch (tab) {
        case kNameSearchTab:
            if (name_page_ != nullptr) name_page_->fill(ctx_.search);
            break;
        case kWebSearchTab:
            if (web_page_ != nullptr) web_page_->fill(ctx_.search);
            break;
        case kHarvestTab:
            if (harvest_page_ != nullptr) harvest_page_->fill(ctx_.search);
            break;
        case kDetailsTab:
            if (details_page_ != nullptr) {
                details_page_->show_record(current_item_);
                details_page_->set_running(running_);
            }
            break;
        default:
            break;
    }
}

void MainWindow::row_event(ListPane& list, int row, bool double_click) {
    if (ignore_row_events_) return;
    // The focused row decides, as the keyboard and the mouse leave it.
    const QModelIndex focused = list.view()->currentIndex();
    const store::ItemRecord* rec = list.model()->record(focused.isValid() ? focused.row() : row);
    if (rec == nullptr) return;
    current_item_ = rec;
    if (!list.is_links()) current_item_list_ = ListKind::Addresses;
    if (double_click && rec->url) {
        hand_to_browser(*rec->url);
        return;
    }
    current_item_list_ = list.kind();
    if (tabs_->currentIndex() != kDetailsTab) {
        tabs_->setCurrentIndex(kDetailsTab);  // fills the page with current_item_
    } else {
        details_page_->show_record(current_item_);
    }
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
    if (!desktop_.open_url(url)) report_error("Unable to open '" + url + "'");
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

// ---- What only the window knows about the core's rows ---------------------------------------

void MainWindow::record_leaving(ListKind kind, int row) {
    // `row` is the record's list position; the record is still alive here.
    const store::ItemList& list = kind == ListKind::Links ? ctx_.lists.links : ctx_.lists.addresses;
    if (current_item_ != nullptr && row >= 0 && row < list.size() &&
        &list.at(row) == current_item_) {
        forget_current_item();
    }
}

void MainWindow::link_changed(const store::ItemRecord& rec) {
    if (&rec == current_item_ && tabs_ != nullptr && tabs_->currentIndex() == kDetailsTab) {
        details_page_->show_record(current_item_);
    }
}

void MainWindow::records_cleared() { forget_current_item(); }

void MainWindow::forget_current_item() {
    current_item_ = nullptr;
    if (details_page_ != nullptr) details_page_->show_record(nullptr);
}

// ---- RunWindow ------------------------------------------------------------------------------

void MainWindow::enable_controls(bool running, bool views_enabled) {
    if (!running && running_) paste_enabled_ = true;  // leaving a run enables Paste again
    running_ = running;
    views_enabled_ = views_enabled;
    start_->setText(running ? kStatusText : kStartText);
    start_->setAccessibleName(spoken(start_->text()));
    cancel_->setEnabled(running);
    links_->view()->setEnabled(views_enabled);
    addresses_->view()->setEnabled(views_enabled);
    if (details_page_ != nullptr) details_page_->set_running(running);
    if (!running && verifying_) {
        verifying_ = false;
        if (current_item_ != nullptr) details_page_->show_note(to_qstring(run_->verify_text()));
    }
    update_enabling();
    if (!running) flush_display();  // the final line and counters at once
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

// ---- Exit -----------------------------------------------------------------------------------

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closing_) exit_sequence();
    event->accept();
}

void MainWindow::apply_column_widths() {
    default_columns_ =
        app::column_widths_text({links_->view()->columnWidth(0), links_->view()->columnWidth(1),
                                 addresses_->view()->columnWidth(0)});
    const std::vector<int> widths = app::read_column_widths(ctx_.settings.columns.value_or(""));
    if (widths.size() != 3) return;
    links_->view()->setColumnWidth(0, widths[0]);
    links_->view()->setColumnWidth(1, widths[1]);
    addresses_->view()->setColumnWidth(0, widths[2]);
}

void MainWindow::keep_column_widths() {
    const std::string now =
        app::column_widths_text({links_->view()->columnWidth(0), links_->view()->columnWidth(1),
                                 addresses_->view()->columnWidth(0)});
    // Untouched widths leave the file as it was.
    if (ctx_.settings.columns || now != default_columns_) ctx_.settings.columns = now;
}

void MainWindow::exit_sequence() {
    closing_ = true;
    commit_page(current_tab_);
    keep_column_widths();
    ++ctx_.run.stop_requested;
    run_->kill_harvest_timers();
    if (run_->running()) run_->stop_all();
    // Errors still waiting for their box are told where a signal's sender can see them.
    flush_errors_to_stderr();
    if (!locked_out_) {
        const bool project_saved = project_unreadable_ || ctx_.save_current_project() != 0;
        const bool settings_saved = ctx_.save_settings(settings_path_) != 0;
        saved_on_close_ = saved_on_close_ && project_saved && settings_saved;
    }
    run_->engine().shutdown();
    // The views forget the lists before they are freed.
    links_->model()->cleared();
    addresses_->model()->cleared();
    ctx_.lists.links.clear();
    ctx_.lists.addresses.clear();
}

}  // namespace tarnvelox::ui
