// Widget tests of the main window under the offscreen platform: what the window enables when,
// what its commands do to the lists and files, the column rule, and a whole harvest of a
// loopback site of the test's own. Every wait is bounded.

#include "ui/main_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QtTest/QTest>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/settings.h"
#include "fakes/fake_desktop.h"
#include "fakes/scripted_server.h"
#include "harvest/list_rows.h"
#include "store/store.h"
#include "store/temp_dir.h"
#include "ui/dialogs.h"
#include "ui/item_models.h"
#include "ui/tab_pages.h"

namespace tarnvelox::ui {
namespace {

namespace fs = std::filesystem;
using store::ItemRecord;
using store::TreeFile;

// Runs the event loop until `done` holds or `limit_ms` passed; whether it holds.
bool wait_until(const std::function<bool()>& done, int limit_ms = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limit_ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() {
        old_dir_ = fs::current_path();
        fs::current_path(dir_.path());
    }
    ~MainWindowTest() override {
        window_.reset();
        fs::current_path(old_dir_);
    }

    // Links and addresses stored in the default project's files before the window loads it.
    void seed(const std::vector<std::string>& links, const std::vector<std::string>& addresses,
              int32_t link_status = 0) {
        platform::NullShell shell;
        store::Store st;
        store::set_project_path(st, "default.tvp");
        ASSERT_TRUE(store::open_store(st));
        for (const std::string& url : links) {
            ItemRecord rec;
            rec.url = url;
            rec.title = "Title of " + url.substr(url.rfind('/') + 1);
            rec.source = "http://seed.example/";
            rec.kind = store::KIND_PAGE;
            rec.status = link_status;
            ASSERT_GE(store::tree_insert(st, TreeFile::Links, rec), 0);
        }
        for (const std::string& address : addresses) {
            ItemRecord rec;
            rec.url = "mailto:" + address;
            rec.title = address;
            rec.source = "http://seed.example/";
            rec.kind = store::KIND_ADDRESS;
            ASSERT_GE(store::tree_insert(st, TreeFile::Addresses, rec), 0);
        }
        store::close_store(st);
        std::ofstream("default.tvp") << "OWNER=Tarnvelox 100\nURL=http://seed.example\nSTART=2\n";
    }

    MainWindow& open() {
        window_ = std::make_unique<MainWindow>(desktop_, std::string(app::kSettingsFile));
        window_->start_up();
        window_->show();
        window_->activateWindow();  // the keyboard focus goes to active windows only
        EXPECT_TRUE(
            wait_until([&] { return QApplication::activeWindow() == window_.get(); }, 2000));
        window_->dispatch(cmd::kLoadProject);
        return *window_;
    }
    bool idle() { return !window_->context().harvest_run()->running(); }
    void select_tab(int tab) { window_->tabs()->setCurrentIndex(tab); }

    testing::TempDir dir_;
    fs::path old_dir_;
    testing::FakeDesktop desktop_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, FirstStartShowsTheDefaultProjectWithCompleteMenusAndNamedControls) {
    MainWindow& w = open();
    EXPECT_EQ(w.windowTitle(), "Tarnvelox - [default.tvp]");
    EXPECT_EQ(w.tabs()->count(), 4);
    EXPECT_EQ(w.tabs()->currentIndex(), kNameSearchTab);
    EXPECT_EQ(w.cancel_button()->text(), "Cancel");
    EXPECT_FALSE(w.cancel_button()->isEnabled());
    EXPECT_EQ(w.address_count()->text(), "0");

    const std::pair<int, const char*> items[] = {
        {cmd::kOpen, "&Open"},
        {cmd::kSaveAs, "Save &As"},
        {cmd::kVersionCheck, "Online &Version Check"},
        {cmd::kQuit, "&Quit"},
        {cmd::kPaste, "&Paste"},
        {cmd::kStatus, "&Status"},
        {cmd::kResetLinkStatus, "&Reset Link Status"},
        {cmd::kClearProject, "Clear Project"},
        {cmd::kAbout, "&About..."},
        {cmd::kLinkCopy, "&Copy Link Location"},
        {cmd::kAddressSend, "&Send"},
        {cmd::kAddressOpenSource, "Open Sou&rce"},
    };
    for (const auto& [id, text] : items) {
        ASSERT_NE(w.action(id), nullptr) << id;
        EXPECT_EQ(w.action(id)->text(), text);
        EXPECT_EQ(w.action(id)->data().toInt(), id);
    }
    EXPECT_EQ(w.action(cmd::kQuit)->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
    // An empty links view: nothing to reset or delete. The clipboard was empty at start-up.
    EXPECT_FALSE(w.action(cmd::kResetLinkStatus)->isEnabled());
    EXPECT_FALSE(w.action(cmd::kDeleteLinks)->isEnabled());
    EXPECT_FALSE(w.action(cmd::kPaste)->isEnabled());

    // Every button says its visible text (without the mnemonic mark); every field is named
    // after the label that is its buddy. Engine rows say the engine's name.
    for (int tab = 0; tab < 4; ++tab) {
        select_tab(tab);
        for (QAbstractButton* b : w.findChildren<QAbstractButton*>()) {
            if (!b->isVisible() || b->text().isEmpty()) continue;
            QString visible = b->text();
            visible.remove('&');
            if (visible.endsWith("....")) {
                EXPECT_TRUE(visible.startsWith(b->accessibleName())) << visible.toStdString();
                EXPECT_FALSE(b->accessibleName().isEmpty());
            } else {
                EXPECT_EQ(b->accessibleName(), visible);
            }
        }
        for (QLabel* label : w.findChildren<QLabel*>()) {
            auto* field = qobject_cast<QLineEdit*>(label->buddy());
            if (field == nullptr || !field->isVisible()) continue;
            QString visible = label->text();
            visible.remove('&');
            EXPECT_EQ(field->accessibleName(), visible);
        }
    }
    select_tab(kHarvestTab);
    EXPECT_EQ(w.harvest_page()->url_field()->accessibleName(), "Starting URL:");
    bool has_buddy = false;
    for (QLabel* label : w.findChildren<QLabel*>()) {
        has_buddy |= label->buddy() == w.harvest_page()->url_field();
    }
    EXPECT_TRUE(has_buddy);
}

TEST_F(MainWindowTest, RunningDisablesTheTableItemsAndTheEndEnablesThemAgain) {
    seed({"http://seed.example/a.html"}, {}, store::STATUS_VISITED);
    desktop_.clipboard = "something";
    MainWindow& w = open();
    select_tab(kDetailsTab);
    ASSERT_EQ(w.context().harvest_run()->start_harvest(kDetailsTab), 1);
    EXPECT_EQ(w.start_button()->text(), "Status");
    EXPECT_TRUE(w.cancel_button()->isEnabled());
    for (int id : {cmd::kOpen, cmd::kNew, cmd::kDeleteProject, cmd::kExport, cmd::kImport,
                   cmd::kVersionCheck, cmd::kCopy, cmd::kPaste, cmd::kResetLinkStatus,
                   cmd::kDeleteLinks, cmd::kClearProject}) {
        EXPECT_FALSE(w.action(id)->isEnabled()) << id;
    }
    EXPECT_TRUE(w.action(cmd::kSave)->isEnabled());
    EXPECT_TRUE(w.action(cmd::kDelete)->isEnabled());
    EXPECT_FALSE(w.details_page()->delete_button()->isEnabled());

    // Nothing is left to fetch: the first tick ends the run.
    ASSERT_TRUE(wait_until([&] { return idle(); }));
    EXPECT_EQ(w.start_button()->text(), "Start");
    EXPECT_FALSE(w.cancel_button()->isEnabled());
    for (int id : {cmd::kOpen, cmd::kCopy, cmd::kPaste, cmd::kResetLinkStatus, cmd::kDeleteLinks,
                   cmd::kClearProject}) {
        EXPECT_TRUE(w.action(id)->isEnabled()) << id;
    }
    EXPECT_TRUE(w.details_page()->delete_button()->isEnabled());
    w.flush_display();
    EXPECT_EQ(w.status_text()->text(), " Hunt Complete");
}

TEST_F(MainWindowTest, DetailsAndBackLeavesStartAndCancelWorking) {
    MainWindow& w = open();
    select_tab(kDetailsTab);
    select_tab(kHarvestTab);
    EXPECT_TRUE(w.start_button()->isVisible());
    EXPECT_TRUE(w.cancel_button()->isVisible());
    // A fetch that never ends, so the run stays up until Cancel.
    testing::ScriptedServer server;
    server.route("/slow.html", testing::behaviour(testing::Route::Kind::NeverAnswer));
    server.start();
    w.harvest_page()->url_field()->setText(QString::fromStdString(server.base() + "/slow.html"));
    w.start_button()->click();
    ASSERT_FALSE(idle());
    select_tab(kDetailsTab);
    select_tab(kHarvestTab);
    EXPECT_TRUE(w.cancel_button()->isEnabled());
    w.cancel_button()->click();
    EXPECT_TRUE(idle());
    w.flush_display();
    EXPECT_EQ(w.status_text()->text(), " Cancelled");
    EXPECT_EQ(w.context().search.starting_url, server.base() + "/slow.html");
    server.stop();
}

TEST_F(MainWindowTest, AddressesViewShowsOnlyWhenTheWindowIsWideEnough) {
    MainWindow& w = open();
    const int chrome = w.width() - w.centralWidget()->width();
    w.resize(kLinksViewWidth + kAddressesMargin + chrome, 600);  // not wider: hidden
    ASSERT_TRUE(wait_until(
        [&] { return w.centralWidget()->width() == kLinksViewWidth + kAddressesMargin; }, 2000));
    EXPECT_FALSE(w.addresses_view()->isVisible());
    EXPECT_EQ(w.links_view()->width(), w.centralWidget()->width());

    w.resize(1400 + chrome, 600);
    ASSERT_TRUE(wait_until([&] { return w.centralWidget()->width() == 1400; }, 2000));
    EXPECT_TRUE(w.addresses_view()->isVisible());
    EXPECT_EQ(w.links_view()->width(), 700);  // half the width, more than the minimum
    EXPECT_EQ(w.addresses_view()->x(), 705);
    EXPECT_EQ(w.addresses_view()->x() + w.addresses_view()->width(), 1400);
    EXPECT_EQ(w.start_button()->x() + w.start_button()->width(), 700 - 12);
}

TEST_F(MainWindowTest, HeaderClickShowsFileNamesAndCopyTakesTheFocusedRowsKey) {
    seed({"http://seed.example/docs/", "http://seed.example/a/b.html"}, {"ann@seed.example"});
    MainWindow& w = open();
    QAbstractItemModelTester tester(w.links_model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_EQ(w.links_model()->rowCount(), 2);
    const QModelIndex first = w.links_model()->index(0, 0);
    EXPECT_EQ(first.data().toString(), "Title of");  // stored titles lose trailing blanks
    w.links_view()->horizontalHeader()->sectionClicked(1);
    EXPECT_EQ(first.data().toString(), "docs/index.html");
    EXPECT_EQ(w.links_model()->index(1, 0).data().toString(), "a/b.html");
    w.links_view()->horizontalHeader()->sectionClicked(0);
    EXPECT_EQ(first.data().toString(), "Title of");  // stored titles lose trailing blanks

    // Copy with the focus in the addresses view: the row's "mailto:" key.
    w.addresses_view()->setFocus();
    w.addresses_view()->setCurrentIndex(w.addresses_model()->index(0, 0));
    ASSERT_TRUE(
        wait_until([&] { return QApplication::focusWidget() == w.addresses_view(); }, 2000));
    w.dispatch(cmd::kCopy);
    EXPECT_EQ(desktop_.clipboard, "mailto:ann@seed.example");
    // A click on a row showed its record on the Details page.
    EXPECT_EQ(w.tabs()->currentIndex(), kDetailsTab);
    EXPECT_EQ(w.details_page()->field(1)->text(), "mailto:ann@seed.example");
    EXPECT_EQ(w.details_page()->field(2)->text(), "  ann@seed.example");
}

TEST_F(MainWindowTest, DeleteRemovesSelectedRowsButNeverOneAConnectionHolds) {
    seed({"http://seed.example/0", "http://seed.example/1", "http://seed.example/2",
          "http://seed.example/3"},
         {});
    MainWindow& w = open();
    QAbstractItemModelTester tester(w.links_model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    // As during a harvest: a slot is fetching link 1.
    w.context().run.harvest_running = 1;
    w.context().lists.links.at(1).status |= store::STATUS_ACTIVE;
    w.dispatch(cmd::kLinkSelectAll);
    ASSERT_EQ(QApplication::focusWidget(), w.links_view());
    w.dispatch(cmd::kDelete);
    w.context().run.harvest_running = 0;
    ASSERT_EQ(w.links_model()->rowCount(), 1);
    EXPECT_EQ(w.links_model()->index(0, 1).data().toString(), "http://seed.example/1");
    EXPECT_TRUE(w.links_view()->selectionModel()->isRowSelected(0, QModelIndex()));

    // The slot is done: now it goes, from the view, the list and the file.
    w.context().lists.links.at(0).status &= ~store::STATUS_ACTIVE;
    w.dispatch(cmd::kDelete);
    EXPECT_EQ(w.links_model()->rowCount(), 0);
    EXPECT_EQ(w.context().lists.links.size(), 0);
    EXPECT_FALSE(w.action(cmd::kDeleteLinks)->isEnabled());
    store::Store st;
    store::set_project_path(st, "default.tvp");
    ASSERT_TRUE(store::open_store(st));
    EXPECT_EQ(store::read_next_link(st, TreeFile::Links), nullptr);
}

TEST_F(MainWindowTest, ClearProjectDeletesTheListsFilesButKeepsTheProjectFile) {
    seed({"http://seed.example/a"}, {"ann@seed.example", "bob@seed.example"});
    MainWindow& w = open();
    w.flush_display();
    EXPECT_EQ(w.address_count()->text(), "2");
    desktop_.answer_yes = false;
    w.dispatch(cmd::kClearProject);
    EXPECT_EQ(w.addresses_model()->rowCount(), 2);
    ASSERT_EQ(desktop_.questions.size(), 1u);
    EXPECT_EQ(desktop_.questions[0].first, "Confirm");

    desktop_.answer_yes = true;
    w.dispatch(cmd::kClearProject);
    EXPECT_EQ(w.links_model()->rowCount(), 0);
    EXPECT_EQ(w.addresses_model()->rowCount(), 0);
    EXPECT_EQ(w.address_count()->text(), "0");
    EXPECT_FALSE(fs::exists("default.lin"));
    EXPECT_FALSE(fs::exists("default.mai"));
    EXPECT_TRUE(fs::exists("default.tvp"));
}

TEST_F(MainWindowTest, ClosingSavesTheProjectAndTheSettings) {
    MainWindow& w = open();
    select_tab(kHarvestTab);
    w.harvest_page()->url_field()->setText("  www.saved.example/start.html ");
    w.harvest_page()->scope_button(harvest::kScopeServer)->setChecked(true);
    w.close();
    const std::string project = read_file("default.tvp");
    EXPECT_NE(project.find("URL=http://www.saved.example/start.html\n"), std::string::npos)
        << project;
    EXPECT_NE(project.find("START=3\n"), std::string::npos) << project;
    const std::string settings = read_file("tarnv.ini");
    EXPECT_NE(settings.find("project=default.tvp\n"), std::string::npos) << settings;
}

TEST_F(MainWindowTest, EscapeClosesAndSavesAndEditSelectAllHasNoAction) {
    seed({"http://seed.example/a", "http://seed.example/b"}, {});
    MainWindow& w = open();
    w.links_view()->setFocus();
    ASSERT_TRUE(wait_until([&] { return QApplication::focusWidget() == w.links_view(); }, 2000));
    w.dispatch(cmd::kSelectAll);
    EXPECT_FALSE(w.links_view()->selectionModel()->hasSelection());
    w.dispatch(cmd::kLinkSelectAll);  // the context menu's selects every row
    EXPECT_EQ(w.links_view()->selectionModel()->selectedRows().size(), 2);

    QTest::keyClick(w.links_view(), Qt::Key_Escape);
    ASSERT_TRUE(wait_until([&] { return !w.isVisible(); }, 2000));
    EXPECT_TRUE(fs::exists("tarnv.ini"));
}

TEST_F(MainWindowTest, EnterInAFieldStartsTheHarvest) {
    MainWindow& w = open();
    select_tab(kHarvestTab);
    testing::ScriptedServer server;
    server.route("/slow.html", testing::behaviour(testing::Route::Kind::NeverAnswer));
    server.start();
    w.harvest_page()->url_field()->setText(QString::fromStdString(server.base() + "/slow.html"));
    w.harvest_page()->url_field()->setFocus();
    QTest::keyClick(w.harvest_page()->url_field(), Qt::Key_Return);
    EXPECT_FALSE(idle());
    w.dispatch(cmd::kCancel);
    EXPECT_TRUE(idle());
    server.stop();
}

// The record shown on the Details page is trimmed away during a harvest: the page must let go
// of it before it is freed.
TEST_F(MainWindowTest, TrimmingTheClickedRecordClearsTheDetailsPage) {
    seed({"http://seed.example/0", "http://seed.example/1", "http://seed.example/2"}, {},
         store::STATUS_VISITED);
    std::ofstream("tarnv.ini") << "maxlist=2\n";
    MainWindow& w = open();
    ASSERT_EQ(w.links_model()->rowCount(), 2);
    // The second row: it goes with the second trim, while the first row's removal still waits
    // for the view's next batch.
    w.links_view()->setCurrentIndex(w.links_model()->index(1, 0));
    ASSERT_NE(w.current_item(), nullptr);
    EXPECT_EQ(w.tabs()->currentIndex(), kDetailsTab);
    // New links: once the view is over the maximum, the first visited row goes with each one.
    app::Context& ctx = w.context();
    for (const char* url :
         {"http://seed.example/n1", "http://seed.example/n2", "http://seed.example/n3"}) {
        store::RecordPtr rec = store::clear_record();
        rec->url = url;
        rec->kind = store::KIND_PAGE;
        store::ItemRecord& listed = ctx.lists.links.append(std::move(rec));
        harvest::add_link_row(ctx.lists.links, w, ctx.settings.maxlist, listed);
    }
    EXPECT_EQ(w.current_item(), nullptr);
    EXPECT_EQ(w.details_page()->field(1)->text(), "");
    select_tab(kHarvestTab);
    select_tab(kDetailsTab);  // shows nothing, reads nothing freed
    w.links_model()->flush();
    EXPECT_EQ(w.links_model()->rowCount(), ctx.lists.links.size());
}

TEST_F(MainWindowTest, OpenAndSendHandTheFocusedRowToTheBrowser) {
    seed({"http://seed.example/page.html"}, {"ann@seed.example"});
    MainWindow& w = open();
    w.links_view()->setFocus();
    ASSERT_TRUE(wait_until([&] { return QApplication::focusWidget() == w.links_view(); }, 2000));
    w.links_view()->setCurrentIndex(w.links_model()->index(0, 0));
    w.links_view()->setFocus();  // the click moved to the Details tab; focus stays on the view
    w.dispatch(cmd::kLinkOpen);
    w.dispatch(cmd::kLinkOpenSource);
    w.addresses_view()->setFocus();
    ASSERT_TRUE(wait_until([&] { return QApplication::focusWidget() == w.addresses_view(); }, 2000));
    w.addresses_view()->setCurrentIndex(w.addresses_model()->index(0, 0));
    w.addresses_view()->setFocus();
    w.dispatch(cmd::kAddressSend);
    EXPECT_EQ(desktop_.opened_urls,
              (std::vector<std::string>{"http://seed.example/page.html", "http://seed.example/",
                                        "mailto:ann@seed.example"}));
    // A double click on a row with a url opens it and stays on the tab it was on.
    select_tab(kHarvestTab);
    desktop_.opened_urls.clear();
    const QModelIndex row = w.links_model()->index(0, 1);
    w.links_view()->doubleClicked(row);
    EXPECT_EQ(desktop_.opened_urls, std::vector<std::string>{"http://seed.example/page.html"});
    EXPECT_EQ(w.tabs()->currentIndex(), kHarvestTab);
}

TEST_F(MainWindowTest, AProjectThatCannotBeReadIsToldAndNeverSavedOver) {
    // A project file that exists but holds no project (here a folder of that name).
    std::filesystem::create_directory("default.tvp");
    MainWindow& w = open();
    // (No engines file in the test's folder: that is told too.)
    ASSERT_FALSE(desktop_.messages.empty());
    EXPECT_EQ(desktop_.messages.back().caption, "Error");
    EXPECT_NE(desktop_.messages.back().text.find("default.tvp"), std::string::npos);
    EXPECT_EQ(w.links_model()->rowCount(), 0);
    w.close();
    EXPECT_TRUE(std::filesystem::is_directory("default.tvp"));  // not replaced by a save
    EXPECT_TRUE(fs::exists("tarnv.ini"));                       // the settings are saved
}

// An error told while a harvest runs comes from deep inside a response's handling: its box
// waits for the event loop, so no modal loop runs the harvest's events under that response.
// Errors told meanwhile follow in order, one box at a time.
TEST_F(MainWindowTest, ErrorsToldDuringAHarvestWaitForTheEventLoop) {
    MainWindow& w = open();
    desktop_.messages.clear();
    w.context().run.harvest_running = 1;
    w.report_error("first");
    w.report_error("second");
    EXPECT_TRUE(desktop_.messages.empty());
    w.context().run.harvest_running = 0;
    ASSERT_TRUE(wait_until([&] { return desktop_.messages.size() == 2; }, 2000));
    EXPECT_EQ(desktop_.messages[0].text, "first");
    EXPECT_EQ(desktop_.messages[1].text, "second");
    w.report_error("third");  // no harvest: at once
    ASSERT_EQ(desktop_.messages.size(), 3u);
    w.close();
}

// A whole harvest in the window: rows, icons and counters end as the site says, and the Status
// dialog opened during the run shows the connection lines live.
TEST_F(MainWindowTest, WindowHarvestsALoopbackSite) {
    testing::ScriptedServer server;
    server.route("/index.html", testing::page("<a href=\"/a.html\">A</a> <a href=\"/b.html\">B</a> "
                                              "<a href=\"/gone.html\">gone</a> info@site.example"));
    testing::Route a = testing::page("<a href=\"/index.html\">home</a> ann@site.example");
    a.delay = std::chrono::milliseconds(300);  // the run is still going when Status opens
    server.route("/a.html", a);
    server.route("/b.html", testing::page("bob@site.example"));
    server.route("/gone.html", testing::status(404, "Not Found"));
    server.start();

    MainWindow& w = open();
    select_tab(kHarvestTab);
    w.harvest_page()->url_field()->setText(QString::fromStdString(server.base() + "/index.html"));
    w.harvest_page()->scope_button(harvest::kScopeServer)->setChecked(true);
    w.start_button()->click();
    ASSERT_FALSE(idle());

    // Start while running opens the Status dialog; it is modal and the harvest goes on.
    bool saw_dialog = false;
    bool lines_enabled = false;
    QTimer::singleShot(0, [&] {
        wait_until([&] { return w.status_dialog() != nullptr; }, 5000);
        saw_dialog = w.status_dialog() != nullptr;
        if (!saw_dialog) return;
        wait_until([&] { return idle(); }, 15000);
        w.flush_display();
        for (int i = 0; i < 10; ++i) lines_enabled |= w.status_dialog()->line(i)->isEnabled();
        w.status_dialog()->accept();
    });
    w.start_button()->click();  // "Status"
    EXPECT_TRUE(saw_dialog);
    EXPECT_TRUE(lines_enabled);
    ASSERT_TRUE(wait_until([&] { return idle(); }, 15000));
    w.links_model()->flush();
    w.addresses_model()->flush();
    w.flush_display();

    std::map<std::string, int> icons;
    for (int row = 0; row < w.links_model()->rowCount(); ++row) {
        const store::ItemRecord* rec = w.links_model()->record(row);
        ASSERT_NE(rec, nullptr);
        icons[rec->url->substr(rec->url->rfind('/'))] = harvest::link_icon(*rec);
    }
    EXPECT_EQ(icons, (std::map<std::string, int>{
                         {"/index.html", 2}, {"/a.html", 2}, {"/b.html", 2}, {"/gone.html", 3}}));
    EXPECT_EQ(w.addresses_model()->rowCount(), 3);
    EXPECT_EQ(w.address_count()->text(), "3");
    EXPECT_EQ(w.status_text()->text(), " Hunt Complete");
    const app::StatusCounters c = w.context().harvest_run()->status_counters();
    EXPECT_EQ(c.visited, 4);
    EXPECT_EQ(c.bad, 1);
    EXPECT_EQ(c.pending, 0);
    server.stop();
}

}  // namespace
}  // namespace tarnvelox::ui

namespace {

// The offscreen platform warns about every window it cannot size from hints; nothing to see.
void quiet_offscreen(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (message.contains("propagateSizeHints")) return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
    if (type == QtFatalMsg) std::abort();
}

}  // namespace

int main(int argc, char** argv) {
    // Widgets without a display: the offscreen platform unless the caller chose one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quiet_offscreen);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
