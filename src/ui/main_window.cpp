#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <algorithm>
#include <vector>

#include "app/product.h"
#include "app/settings.h"
#include "harvest/list_rows.h"
#include "platform/qt/qt_mail_lookup.h"
#include "platform/qt/qt_text.h"
#include "search/engines.h"
#include "ui/dialogs/loading_dialog.h"
#include "ui/link_icons.h"
#include "ui/pages/details_page.h"
#include "ui/pages/harvest_page.h"
#include "ui/pages/page_fields.h"
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
    vendor_ = std::make_unique<VendorDialogs>(
        this, ctx_, *run_, desktop_,
        VendorActions{[this](const app::VendorPage& page) { open_vendor_page(page); },
                      [this](const std::string& folder) { return open_downloads_folder(folder); }});
    ctx_.vendor_service.set_view(vendor_.get());
    // The window's first harvest of a program run asks the update host for its news.
    run_->set_vendor_checks(true);
    mail_lookup_ = std::make_unique<platform::qt::QtMailLookup>();
    setMinimumSize(kLinksViewWidth, kMinimumHeight);
}

MainWindow::~MainWindow() {
    // The views must not read the lists while the context goes.
    closing_ = true;
    ctx_.vendor_service.set_view(nullptr);
    links_->detach();
    addresses_->detach();
}

// ---- Start-up -----------------------------------------------------------------------------------

void MainWindow::start_up() {
    desktop_.busy_cursor(true);
    ctx_.start_up(settings_path_, app::Context::EnginesFile::Required);
    ctx_.browsers = browser::detect_browser(ctx_.settings.browser.value_or(std::string()),
                                            browser::BrowserEnvironment::from_process());
    // The title names the project, and the settings keep its name.
    if (!ctx_.settings.project || ctx_.settings.project->empty()) {
        ctx_.settings.project = std::string(app::kDefaultProjectFile);
    }
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
    // not saved over (ctx_.project_unreadable): its texts would be lost.
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

// ---- Building the window ------------------------------------------------------------------------

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
    name_page_ = new SearchPage(search::EnginePage::NameSearch, ctx_.engines.list);
    web_page_ = new SearchPage(search::EnginePage::WebSearch, ctx_.engines.list);
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
    for (SearchPage* page : {name_page_, web_page_}) {
        connect(page, &SearchPage::page_requested, this,
                [this, page](const store::ItemRecord* engine) {
                    if (engine != nullptr) fetch_engine_page(*page, *engine);
                });
    }
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

// ---- Closing, tabs and rows ---------------------------------------------------------------------

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

void MainWindow::fetch_engine_page(SearchPage& page, const store::ItemRecord& engine) {
    if (running_) return;  // the buttons are disabled while a harvest runs
    // The name on the page fills the request's name placeholders.
    page.commit(ctx_.search);
    if (run_->fetch_single_page(engine, current_tab_) == 0) return;
    (void)ctx_.save_settings(settings_path_);
}

// ---- What only the window knows about the core's rows -------------------------------------------

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

// ---- RunWindow ----------------------------------------------------------------------------------

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
    for (SearchPage* page : {name_page_, web_page_}) {
        if (page != nullptr) page->set_running(running);
    }
    if (!running && verifying_) {
        verifying_ = false;
        if (current_item_ != nullptr) details_page_->show_note(to_qstring(run_->verify_text()));
    }
    update_enabling();
    if (!running) flush_display();  // the final line and counters at once
}

// ---- Exit ---------------------------------------------------------------------------------------

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
    saved_on_close_ = ctx_.shut_down(settings_path_) && saved_on_close_;
    run_->engine().shutdown();
    // The views forget the lists before they are freed.
    links_->model()->cleared();
    addresses_->model()->cleared();
    ctx_.lists.links.clear();
    ctx_.lists.addresses.clear();
}

}  // namespace tarnvelox::ui
