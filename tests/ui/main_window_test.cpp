// Widget tests of the main window under the offscreen platform: what the window enables when,
// what its commands do to the lists and files, the column rule, and a whole harvest of a
// loopback site of the test's own. Every wait is bounded.

#include "ui/main_window.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QtTest/QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/settings.h"
#include "base/file_lock.h"
#include "fakes/fake_desktop.h"
#include "fakes/scripted_server.h"
#include "harvest/list_rows.h"
#include "store/store.h"
#include "store/temp_dir.h"
#include "store/tree_format.h"
#include "ui/dialogs/export_dialog.h"
#include "ui/dialogs/import_dialog.h"
#include "ui/dialogs/status_dialog.h"
#include "ui/dialogs/upgrade_wizard.h"
#include "ui/dialogs/version_check_dialog.h"
#include "ui/item_models.h"
#include "ui/pages/details_page.h"
#include "ui/pages/harvest_page.h"
#include "ui/pages/search_page.h"

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

// Starts `argv` as a child process with `env` added to this one's environment and, when
// `err_path` is not empty, its standard error in that file. Everything is prepared before the
// fork: the child only redirects and executes.
pid_t spawn(std::vector<std::string> argv, const std::vector<std::string>& env,
            const std::string& err_path) {
    std::vector<std::string> all_env(env);
    for (char** e = environ; *e != nullptr; ++e) all_env.emplace_back(*e);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : all_env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int err =
        err_path.empty() ? -1 : ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t child = ::fork();
    if (child == 0) {
        if (err >= 0) ::dup2(err, 2);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    if (err >= 0) ::close(err);
    return child;
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
    // How many of the boxes shown hold `text`.
    int messages_with(const std::string& text) const {
        return static_cast<int>(
            std::count_if(desktop_.messages.begin(), desktop_.messages.end(),
                          [&](const auto& m) { return m.text.find(text) != std::string::npos; }));
    }
    void select_tab(int tab) { window_->tabs()->setCurrentIndex(tab); }

    testing::TempDir dir_;
    fs::path old_dir_;
    testing::FakeDesktop desktop_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, FirstStartShowsTheDefaultProjectWithCompleteMenusAndNamedControls) {
    MainWindow& w = open();
    EXPECT_EQ(w.windowTitle(), "Tarnvelox - [default.tvp]");
    EXPECT_EQ(w.accessibleName(), w.windowTitle());  // a screen reader says the project
    EXPECT_EQ(w.tabs()->count(), 4);
    EXPECT_EQ(w.tabs()->currentIndex(), kNameSearchTab);
    EXPECT_EQ(w.cancel_button()->text(), "Cance&l");
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
    EXPECT_EQ(w.start_button()->text(), "St&atus");
    EXPECT_TRUE(w.cancel_button()->isEnabled());
    for (int id : {cmd::kOpen, cmd::kNew, cmd::kDeleteProject, cmd::kExport, cmd::kImport,
                   cmd::kVersionCheck, cmd::kCopy, cmd::kPaste, cmd::kResetLinkStatus,
                   cmd::kDeleteLinks, cmd::kClearProject}) {
        EXPECT_FALSE(w.action(id)->isEnabled()) << id;
    }
    EXPECT_TRUE(w.action(cmd::kSave)->isEnabled());
    EXPECT_TRUE(w.action(cmd::kSaveAs)->isEnabled());  // the rest of the run lands in the copy
    EXPECT_TRUE(w.action(cmd::kDelete)->isEnabled());
    EXPECT_FALSE(w.details_page()->delete_button()->isEnabled());

    // Nothing is left to fetch: the first tick ends the run.
    ASSERT_TRUE(wait_until([&] { return idle(); }));
    EXPECT_EQ(w.start_button()->text(), "St&art");
    EXPECT_FALSE(w.cancel_button()->isEnabled());
    for (int id : {cmd::kOpen, cmd::kNew, cmd::kDeleteProject, cmd::kExport, cmd::kImport,
                   cmd::kCopy, cmd::kPaste, cmd::kResetLinkStatus, cmd::kDeleteLinks,
                   cmd::kClearProject}) {
        EXPECT_TRUE(w.action(id)->isEnabled()) << id;
    }
    // The Details page shows no record: nothing to delete.
    EXPECT_FALSE(w.details_page()->delete_button()->isEnabled());
    w.flush_display();
    EXPECT_EQ(w.status_text()->text(), " Hunt Complete");
}

TEST_F(MainWindowTest, TheVersionCheckIsOfferedOnlyWhileNothingRuns) {
    seed({"http://seed.example/a.html"}, {}, store::STATUS_VISITED);
    MainWindow& w = open();
    ASSERT_NE(w.action(cmd::kVersionCheck), nullptr);
    EXPECT_TRUE(w.action(cmd::kVersionCheck)->isEnabled());
    select_tab(kDetailsTab);
    ASSERT_EQ(w.context().harvest_run()->start_harvest(kDetailsTab), 1);
    EXPECT_FALSE(w.action(cmd::kVersionCheck)->isEnabled());
    ASSERT_TRUE(wait_until([&] { return idle(); }));
    EXPECT_TRUE(w.action(cmd::kVersionCheck)->isEnabled());
    EXPECT_TRUE(w.action(cmd::kClearProject)->isEnabled());
    EXPECT_TRUE(w.action(cmd::kPreferences)->isEnabled());
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
    EXPECT_EQ(w.status_text()->text(), "1 row was kept: a connection is fetching it.");

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
    w.status_text()->setText(" Hunt Complete");
    w.dispatch(cmd::kClearProject);
    EXPECT_EQ(w.links_model()->rowCount(), 0);
    EXPECT_EQ(w.addresses_model()->rowCount(), 0);
    EXPECT_EQ(w.address_count()->text(), "0");
    EXPECT_EQ(w.status_text()->text(), "");
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

// The window opens on Name Search. Start there with the name empty says what is missing and
// fetches nothing; a name search fetches its directory only and leaves the links an earlier
// harvest left unvisited; its ">>" buttons are disabled while it runs.
TEST_F(MainWindowTest, StartOnASearchTabNeverTakesTheHarvestsPendingLinks) {
    testing::ScriptedServer server;
    testing::Route people = testing::page("jo.smith@people.example");
    people.delay = std::chrono::milliseconds(300);  // the run is still going when looked at
    server.route("/people?n=Jo+Smith", people);
    server.route("/a.html", testing::page("a@site.example"));
    server.start();
    std::ofstream("engines.dat") << "NAME=People\nREQ=" << server.base()
                                 << "/people?n=$NAME\nID=1\nTYP=D\n";
    seed({server.base() + "/a.html", server.base() + "/b.html"}, {});

    MainWindow& w = open();
    auto* page = qobject_cast<SearchPage*>(w.tabs()->widget(kNameSearchTab));
    ASSERT_NE(page, nullptr);
    ASSERT_EQ(w.tabs()->currentIndex(), kNameSearchTab);
    page->text_field()->setFocus();
    QTest::keyClick(page->text_field(), Qt::Key_Return);
    EXPECT_TRUE(idle());
    EXPECT_NE(w.status_text()->text().indexOf("Name"), -1) << w.status_text()->text().toStdString();

    page->text_field()->setText("Jo Smith");
    page->tick(0)->setChecked(true);
    EXPECT_TRUE(page->page_button(0)->isEnabled());
    w.start_button()->click();
    ASSERT_FALSE(idle());
    EXPECT_FALSE(page->page_button(0)->isEnabled());
    ASSERT_TRUE(wait_until([&] { return idle(); }, 15000));
    EXPECT_TRUE(page->page_button(0)->isEnabled());
    EXPECT_EQ(server.requests("/people?n=Jo+Smith"), 1);
    EXPECT_EQ(server.requests("/a.html") + server.requests("/b.html"), 0);
    w.addresses_model()->flush();
    EXPECT_EQ(w.addresses_model()->rowCount(), 1);
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

// A run's new rows and its status line reach the screen in the same paint, not each on a
// timer of its own.
TEST_F(MainWindowTest, NewRowsShowWithTheStatusLineThatFollowsThem) {
    MainWindow& w = open();
    app::Context& ctx = w.context();
    store::RecordPtr rec = store::clear_record();
    rec->url = "http://seed.example/new";
    rec->kind = store::KIND_PAGE;
    harvest::add_link_row(ctx.lists.links, w, ctx.settings.maxlist,
                          ctx.lists.links.append(std::move(rec)));
    w.show_slot_status(0, "Reading: 8192");
    EXPECT_EQ(w.links_model()->rowCount(), 0);
    ASSERT_TRUE(wait_until([&] { return w.status_text()->text() == "Reading: 8192"; }, 2000));
    EXPECT_EQ(w.links_model()->rowCount(), 1);
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
    // A chosen browser is started itself, in a new window when the settings ask for one.
    w.context().settings.browser = "/usr/bin/firefox";
    w.context().settings.newwin = 3;
    desktop_.opened_urls.clear();
    w.links_view()->doubleClicked(row);
    EXPECT_TRUE(desktop_.opened_urls.empty());
    using Started = std::pair<std::string, std::vector<std::string>>;
    EXPECT_EQ(desktop_.started,
              (std::vector<Started>{
                  {"/usr/bin/firefox", {"--new-window", "http://seed.example/page.html"}}}));
}

TEST_F(MainWindowTest, FaqAndHomePageShowInstalledDocumentsNeverTheVendorsHost) {
    MainWindow& w = open();
    for (int id : {cmd::kFaq, cmd::kHomePage}) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(w.action(id)->isEnabled());
        desktop_.opened_urls.clear();
        w.action(id)->trigger();
        ASSERT_EQ(desktop_.opened_urls.size(), 1u);
        const std::string& url = desktop_.opened_urls.front();
        EXPECT_EQ(url.rfind("file:///", 0), 0u) << url;
        EXPECT_EQ(url.find(".example"), std::string::npos) << url;
    }
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

// A port on 127.0.0.1 that nothing listens on: a connection to it is refused.
int refused_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return 9;
    }
    ::close(fd);
    return ntohs(addr.sin_port);
}

// A start that gets no connection is no success: the row shows the failure, Bad counts it,
// the status bar ends with the reason, and the file keeps the link for the next run.
TEST_F(MainWindowTest, ARefusedStartShowsAsAFailureWithItsReason) {
    MainWindow& w = open();
    select_tab(kHarvestTab);
    w.start_button()->click();  // nothing typed: nothing to fetch, no run
    EXPECT_TRUE(idle());
    EXPECT_EQ(w.status_text()->text(), "Nothing to fetch: type a Starting URL, then press Start.");

    const std::string url = "http://127.0.0.1:" + std::to_string(refused_port()) + "/x.html";
    w.harvest_page()->url_field()->setText(QString::fromStdString(url));
    w.start_button()->click();
    ASSERT_TRUE(wait_until([&] { return idle(); }, 10000));
    w.links_model()->flush();
    w.flush_display();
    ASSERT_EQ(w.links_model()->rowCount(), 1);
    EXPECT_EQ(harvest::link_icon(*w.links_model()->record(0)), 3);
    EXPECT_EQ(w.status_text()->text(),
              " Hunt Complete: not one page could be fetched (Connection Refused)");
    // The refused link stays in the file for the next run, so it is still pending.
    EXPECT_EQ(w.progress()->text(), "Visited 1  Pending 1  Bad 1");
    w.close();
    store::Store st;
    store::set_project_path(st, "default.tvp");
    ASSERT_TRUE(store::open_store(st));
    EXPECT_EQ(st.links.pending_count(), 1u);
    store::close_store(st);
}

// The keyboard: Tab leaves a list view, entering one selects nothing, and no two controls a
// page shows (menus included) share a mnemonic.
TEST_F(MainWindowTest, KeyboardLeavesListsAndMnemonicsAreUnique) {
    seed({"http://seed.example/a", "http://seed.example/b"}, {"ann@seed.example"});
    MainWindow& w = open();
    auto mnemonic = [](const QString& text) -> QChar {
        const qsizetype at = text.indexOf('&');
        return at >= 0 && at + 1 < text.size() ? text[at + 1].toUpper() : QChar();
    };
    for (int tab = 0; tab < 4; ++tab) {
        select_tab(tab);
        SCOPED_TRACE(tab);
        std::map<QChar, QString> taken;
        auto take = [&](const QString& text) {
            const QChar key = mnemonic(text);
            if (key.isNull()) return;
            EXPECT_TRUE(taken.emplace(key, text).second)
                << text.toStdString() << " clashes with " << taken[key].toStdString();
        };
        for (QAction* menu : w.menuBar()->actions()) take(menu->text());
        for (QAbstractButton* b : w.findChildren<QAbstractButton*>()) {
            if (b->isVisible()) take(b->text());
        }
        for (QLabel* label : w.findChildren<QLabel*>()) {
            if (label->isVisible() && label->buddy() != nullptr) take(label->text());
        }
    }
    select_tab(kHarvestTab);
    w.links_view()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(wait_until([&] { return QApplication::focusWidget() == w.links_view(); }, 2000));
    EXPECT_FALSE(w.links_view()->selectionModel()->hasSelection());
    EXPECT_EQ(w.tabs()->currentIndex(), kHarvestTab);
    QTest::keyClick(w.links_view(), Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), w.links_view());
}

// Verify says on the Details page what it found: a link's new state, an address's mail domain.
TEST_F(MainWindowTest, VerifyFetchesTheLinkAgainOrAsksWhetherTheDomainTakesMail) {
    struct ScriptedLookup : platform::MailLookup {
        void ask(const std::string& domain, Done done) override {
            asked.push_back(domain);
            answer = std::move(done);
        }
        std::vector<std::string> asked;
        Done answer;
    };
    testing::ScriptedServer server;
    server.route("/gone.html", testing::status(404, "Not Found"));
    server.start();
    seed({server.base() + "/gone.html"}, {"ann@Mail.Example"}, store::STATUS_VISITED);
    auto lookup = std::make_unique<ScriptedLookup>();
    ScriptedLookup& asked = *lookup;
    MainWindow& w = open();
    w.set_mail_lookup(std::move(lookup));
    select_tab(kDetailsTab);
    EXPECT_FALSE(w.details_page()->verify_button()->isEnabled());
    EXPECT_FALSE(w.details_page()->delete_button()->isEnabled());

    w.links_view()->setCurrentIndex(w.links_model()->index(0, 0));
    ASSERT_TRUE(w.details_page()->verify_button()->isEnabled());
    w.details_page()->verify_button()->click();
    ASSERT_TRUE(wait_until([&] { return idle(); }, 10000));
    EXPECT_EQ(w.details_page()->note()->text().toStdString(),
              "Verified " + server.base() + "/gone.html: not found (404)");
    EXPECT_EQ(harvest::link_icon(*w.links_model()->record(0)), 3);

    w.addresses_view()->setCurrentIndex(w.addresses_model()->index(0, 0));
    EXPECT_EQ(w.details_page()->note()->text(), "");  // the note was the link's
    w.details_page()->verify_button()->click();
    ASSERT_EQ(asked.asked, std::vector<std::string>{"mail.example"});
    asked.answer(platform::MailAnswer::Exchanger, "mx.mail.example");
    EXPECT_EQ(w.details_page()->note()->text(),
              "mail.example takes mail: its mail exchanger is mx.mail.example.");
    server.stop();
}

// Column widths a person set come back at the next start; untouched ones write nothing.
TEST_F(MainWindowTest, ColumnWidthsAreKeptAcrossRuns) {
    open().close();
    EXPECT_EQ(read_file("tarnv.ini").find("columns="), std::string::npos);
    MainWindow& w = open();
    EXPECT_GE(w.links_view()->columnWidth(1),
              w.fontMetrics().horizontalAdvance("http://www.example.org/documents/page.html"));
    w.links_view()->setColumnWidth(0, 123);
    w.addresses_view()->setColumnWidth(0, 321);
    const int url_width = w.links_view()->columnWidth(1);
    w.close();
    EXPECT_NE(read_file("tarnv.ini").find("\ncolumns=123," + std::to_string(url_width) + ",321\n"),
              std::string::npos);
    MainWindow& again = open();
    EXPECT_EQ(again.links_view()->columnWidth(0), 123);
    EXPECT_EQ(again.addresses_view()->columnWidth(0), 321);
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

// Another program holds the project: the window says so, closes, and writes nothing.
TEST_F(MainWindowTest, AProjectInUseIsToldAndTheWindowClosesWritingNothing) {
    base::FileLock other;
    ASSERT_EQ(other.lock("default.lock"), base::FileLock::Result::Locked);
    MainWindow& w = open();
    EXPECT_EQ(messages_with("'default.tvp' is in use"), 1);
    EXPECT_TRUE(wait_until([&] { return !w.isVisible(); }, 5000));
    for (const char* file : {"tarnv.ini", "default.tvp", "default.lin", "default.mai"}) {
        EXPECT_FALSE(fs::exists(file)) << file;
    }
}

// Damage is told as the project opens, not first at Start.
TEST_F(MainWindowTest, DamageIsToldWhenTheProjectOpens) {
    const struct {
        const char* name;
        std::function<void()> spoil;
        const char* told;
    } cases[] = {
        {"links file is a FIFO", [] { ASSERT_EQ(::mkfifo("default.lin", 0600), 0); },
         "not a regular file"},
        {"a node with a negative length",
         [this] {
             seed({"http://seed.example/a.html"}, {"ann@seed.example"});
             std::ofstream lin("default.lin", std::ios::binary | std::ios::app);
             unsigned char header[store::kNodeHeaderSize];
             store::encode_header(header, {-1, -1, -5, 0});
             lin.write(reinterpret_cast<const char*>(header), sizeof header);
         },
         "default.lin is damaged"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        window_.reset();
        for (const char* file : {"default.tvp", "default.lin", "default.mai"}) fs::remove(file);
        desktop_.messages.clear();
        c.spoil();
        open();
        EXPECT_EQ(messages_with(c.told), 1);
    }
}

// The child half of KilledMidHarvestTheWindowReopensWithListsFieldsAndCount: harvests in the
// folder it is given until it is killed.
TEST_F(MainWindowTest, DISABLED_HarvestsUntilKilled) {
    const char* folder = std::getenv("TARNVELOX_TEST_FOLDER");
    const char* url = std::getenv("TARNVELOX_TEST_URL");
    if (folder == nullptr || url == nullptr) GTEST_SKIP() << "run by another test";
    fs::current_path(folder);
    fs::remove_all(dir_.path());  // this process is killed: its own folder would stay behind
    MainWindow& w = open();
    select_tab(kHarvestTab);
    w.harvest_page()->url_field()->setText(url);
    w.harvest_page()->scope_button(harvest::kScopeServer)->setChecked(true);
    w.start_button()->click();
    wait_until([] { return false; }, 60000);
}

// kill -9 in the middle of a first harvest: the reopened window shows the links and addresses
// stored, the fields typed and the address count.
TEST_F(MainWindowTest, KilledMidHarvestTheWindowReopensWithListsFieldsAndCount) {
    testing::ScriptedServer server;
    server.route("/index.html", testing::page("<a href=\"/b.html\">b</a> <a href=\"/slow.html\">"
                                              "s</a> ann@site.example"));
    server.route("/b.html", testing::page("bob@site.example"));
    server.route("/slow.html", testing::behaviour(testing::Route::Kind::NeverAnswer));
    server.start();
    const std::string url = server.base() + "/index.html";
    const pid_t child =
        spawn({fs::read_symlink("/proc/self/exe").string(), "--gtest_also_run_disabled_tests",
               "--gtest_filter=MainWindowTest.DISABLED_HarvestsUntilKilled"},
              {"TARNVELOX_TEST_FOLDER=" + dir_.path(), "TARNVELOX_TEST_URL=" + url}, "");
    ASSERT_GT(child, 0);
    const bool stored = wait_until(
        [&] {
            return server.requests("/slow.html") >= 1 &&
                   read_file("default.mai").find("bob@site.example") != std::string::npos;
        },
        30000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    server.stop();
    ASSERT_TRUE(stored) << "the child's harvest did not get going";

    MainWindow& w = open();
    w.links_model()->flush();
    w.addresses_model()->flush();
    w.flush_display();
    EXPECT_EQ(w.links_model()->rowCount(), 3);
    EXPECT_EQ(w.addresses_model()->rowCount(), 2);
    EXPECT_EQ(w.address_count()->text(), "2");
    select_tab(kHarvestTab);
    EXPECT_EQ(w.harvest_page()->url_field()->text().toStdString(), url);
    EXPECT_TRUE(w.harvest_page()->scope_button(harvest::kScopeServer)->isChecked());
}

// SIGTERM while nothing can be saved: the program ends, tells why on standard error and exits

// Once the modal dialog of type D is open, `act` answers it (bounded: a dialog that never
// opens leaves the test to fail on what it expected).
template <class D>
void answer_dialog(std::function<void(D&)> act) {
    QTimer::singleShot(0, [act] {
        const auto open = [] { return qobject_cast<D*>(QApplication::activeModalWidget()); };
        if (wait_until([&] { return open() != nullptr; }, 5000)) act(*open());
    });
}

std::vector<std::string> lines_of(const std::string& path) {
    std::vector<std::string> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The File menu end to end: a harvest into a new project, Save As, Open, Export, Delete and
// Import back, with the files on the disk checked at each step.
TEST_F(MainWindowTest, FileMenuCarriesAHarvestThroughSaveAsOpenExportDeleteAndImport) {
    testing::ScriptedServer server;
    server.route("/index.html",
                 testing::page("<a href=\"/a.html\">A</a> ann@site.example bob@site.example"));
    server.route("/a.html", testing::page("<a href=\"/index.html\">home</a> cy@site.example"));
    server.start();
    const fs::path here = fs::current_path();
    MainWindow& w = open();

    desktop_.next_file = platform::FileDialogAnswer{"site", 1};
    w.dispatch(cmd::kNew);
    EXPECT_EQ(w.windowTitle(), "Tarnvelox - [site.tvp]");
    select_tab(kHarvestTab);
    w.harvest_page()->url_field()->setText(QString::fromStdString(server.base() + "/index.html"));
    w.harvest_page()->scope_button(harvest::kScopeServer)->setChecked(true);
    w.start_button()->click();
    ASSERT_TRUE(wait_until([&] { return idle(); }, 15000));
    w.flush_display();
    ASSERT_EQ(w.addresses_model()->rowCount(), 3);

    // Save As copies the files byte for byte; the window then shows the copy.
    desktop_.next_file = platform::FileDialogAnswer{"copy.tvp", 1};
    w.dispatch(cmd::kSaveAs);
    EXPECT_EQ(w.windowTitle(), "Tarnvelox - [copy.tvp]");
    EXPECT_EQ(read_file("copy.mai"), read_file("site.mai"));
    EXPECT_EQ(read_file("copy.lin"), read_file("site.lin"));
    EXPECT_NE(read_file("copy.tvp").find("URL=" + server.base()), std::string::npos);
    const platform::FileDialogRequest& save_as = desktop_.file_requests.back();
    EXPECT_EQ(save_as.caption, "Save Project");
    EXPECT_TRUE(save_as.overwrite_prompt);

    // Open the original and then the copy: each shows its own items and fields.
    desktop_.next_file = platform::FileDialogAnswer{"site.tvp", 1};
    w.dispatch(cmd::kOpen);
    EXPECT_EQ(w.windowTitle(), "Tarnvelox - [site.tvp]");
    EXPECT_EQ(w.addresses_model()->rowCount(), 3);
    desktop_.next_file = platform::FileDialogAnswer{"copy.tvp", 1};
    w.dispatch(cmd::kOpen);
    EXPECT_EQ(w.addresses_model()->rowCount(), 3);
    EXPECT_EQ(w.harvest_page()->url_field()->text().toStdString(), server.base() + "/index.html");

    // Export the addresses as an address book, leaving out one by the filter.
    answer_dialog<ExportDialog>([](ExportDialog& d) {
        d.filter_group()->field(FilterGroup::kMustNotContain)->setText("cy@*");
        d.all_button()->click();
    });
    desktop_.next_file = platform::FileDialogAnswer{"out/book.htm", 3};
    fs::create_directory("out");
    w.dispatch(cmd::kExport);
    const platform::FileDialogRequest& exported = desktop_.file_requests.back();
    EXPECT_EQ(exported.caption, "Export");
    EXPECT_EQ(exported.types.size(), 6u);
    EXPECT_EQ(exported.selected_type, 1);
    EXPECT_TRUE(exported.overwrite_prompt);
    const std::string book = read_file("out/book.htm");
    EXPECT_NE(book.find("<DT><A HREF=\"bob@site.example\">"), std::string::npos);
    EXPECT_EQ(book.find("cy@site.example"), std::string::npos);
    EXPECT_EQ(w.context().filter.must_not_contain, "cy@*");  // kept with the project
    EXPECT_EQ(w.context().values.last_export, "out");

    // Delete: the copy's files go, and the default project is the one open.
    desktop_.answer_yes = true;
    w.dispatch(cmd::kDeleteProject);
    EXPECT_EQ(desktop_.questions.back().second, "Do you wish to delete the current Project?");
    EXPECT_EQ(w.windowTitle(), "Tarnvelox - [default.tvp]");
    for (const char* gone : {"copy.tvp", "copy.lin", "copy.mai"}) EXPECT_FALSE(fs::exists(gone));
    EXPECT_EQ(w.addresses_model()->rowCount(), 0);

    // Import the address book back into the default project.
    answer_dialog<ImportDialog>([](ImportDialog& d) {
        d.filter_group()->field(FilterGroup::kMustNotContain)->clear();
        d.ok_button()->click();
    });
    desktop_.next_file = platform::FileDialogAnswer{"out/book.htm", 1};
    w.dispatch(cmd::kImport);
    const platform::FileDialogRequest& imported = desktop_.file_requests.back();
    EXPECT_EQ(imported.caption, "Import");
    EXPECT_EQ(imported.types.size(), 4u);
    EXPECT_TRUE(imported.must_exist);
    w.flush_display();
    EXPECT_EQ(w.addresses_model()->rowCount(), 2);
    EXPECT_EQ(w.address_count()->text(), "2");
    EXPECT_EQ(w.context().values.last_import, "out");
    EXPECT_NE(w.status_text()->text().indexOf("2 addresses"), -1)
        << w.status_text()->text().toStdString();
    const std::string mai = read_file("default.mai");
    EXPECT_NE(mai.find("mailto:ann@site.example"), std::string::npos);
    EXPECT_NE(mai.find("mailto:bob@site.example"), std::string::npos);
    EXPECT_EQ(fs::current_path(), here);  // no dialog moved the working folder
    EXPECT_EQ(messages_with("Unable"), 1);  // the test's folder has no engines file
    server.stop();
}

// Cancelled dialogs change nothing; Selected Only writes the format's selected rows in row
// order.
TEST_F(MainWindowTest, CancelChangesNothingAndSelectedOnlyTakesTheRowsInOrder) {
    seed({"http://seed.example/a.html", "http://seed.example/b.html",
          "http://seed.example/c.html"},
         {"ann@seed.example"});
    MainWindow& w = open();
    const std::string project = read_file("default.tvp");

    desktop_.next_file.reset();
    w.dispatch(cmd::kOpen);
    w.dispatch(cmd::kNew);
    w.flush_display();
    EXPECT_EQ(w.links_model()->rowCount(), 3);
    EXPECT_EQ(w.address_count()->text(), "1");
    EXPECT_EQ(read_file("default.tvp"), project);  // nothing saved, nothing cleared
    EXPECT_EQ(desktop_.file_requests.size(), 2u);

    answer_dialog<ImportDialog>([](ImportDialog& d) { d.cancel_button()->click(); });
    w.dispatch(cmd::kImport);
    answer_dialog<ExportDialog>([](ExportDialog& d) { d.cancel_button()->click(); });
    w.dispatch(cmd::kExport);
    EXPECT_EQ(desktop_.file_requests.size(), 2u);  // no file asked for after a Cancel

    w.links_view()->setFocus();
    const auto select = [&](int row) {
        w.links_view()->selectionModel()->select(
            w.links_model()->index(row, 0),
            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    select(2);
    select(0);
    answer_dialog<ExportDialog>([](ExportDialog& d) { d.selected_button()->click(); });
    desktop_.next_file = platform::FileDialogAnswer{"urls.txt", 2};
    w.dispatch(cmd::kExport);
    EXPECT_EQ(lines_of("urls.txt"), (std::vector<std::string>{"http://seed.example/a.html",
                                                               "http://seed.example/c.html"}));
}


// non-zero, instead of waiting behind a box.
// The update host is reached through the proxy setting: a server of the test's own on
// 127.0.0.1 answers for it.
void use_proxy(MainWindow& w, int port) {
    w.context().settings.proxy = "127.0.0.1";
    w.context().settings.port = port;
}

// The dialog checks once per program run; the wizard downloads the setup file into
// downloads/ and shows that folder, never starting the file.
TEST_F(MainWindowTest, VersionCheckShowsTheAnswerOnceAndTheSetupFileIsNeverStarted) {
    const std::string check_path = "/cgi-bin/msw/getfile?filename=tv";
    const std::string setup_url = "https://dl.tarnvelox.example/files/setup.run";
    testing::ScriptedServer server;
    testing::Route answer;
    answer.body = "#VER1=101\n#BUILD=7;" + setup_url + "\n";
    server.route(check_path, answer);
    testing::Route setup;
    setup.body = "#!/bin/sh\necho never run\n";
    server.route(setup_url, setup);
    server.start();
    MainWindow& w = open();
    use_proxy(w, server.port());
    desktop_.messages.clear();

    w.action(cmd::kVersionCheck)->trigger();
    VersionCheckDialog* d = w.vendor_dialogs().dialog();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->windowTitle(), kConnectingCaption);
    EXPECT_FALSE(d->ok_button()->isEnabled());
    ASSERT_TRUE(wait_until([&] { return !d->checking() && idle(); }));
    EXPECT_EQ(d->windowTitle(), kVersionCheckCaption);
    EXPECT_EQ(d->latest_version()->text(), "Tarnvelox v1.01");
    EXPECT_EQ(d->latest_build()->text(), "Build: 007");
    EXPECT_TRUE(d->upgrade_button()->isEnabled());
    d->ok_button()->click();

    // A second opening shows what the first one brought, without asking again.
    w.action(cmd::kVersionCheck)->trigger();
    EXPECT_FALSE(d->checking());
    EXPECT_EQ(d->latest_version()->text(), "Tarnvelox v1.01");
    EXPECT_EQ(server.requests(check_path), 1);

    d->upgrade_button()->click();
    UpgradeWizard* wizard = w.vendor_dialogs().wizard();
    ASSERT_NE(wizard, nullptr);
    while (wizard->page() < kDownloadPage) wizard->next_button()->click();
    ASSERT_TRUE(wait_until([&] { return wizard->page() == 5 && idle(); }));
    const fs::path downloads = fs::path(dir_.path()) / "downloads";
    EXPECT_TRUE(fs::is_regular_file(downloads / "setup.run"));
    desktop_.opened_urls.clear();
    wizard->next_button()->click();
    EXPECT_EQ(desktop_.opened_urls,
              std::vector<std::string>{"file://" + fs::canonical(downloads).string()});
    EXPECT_TRUE(desktop_.started.empty());
    EXPECT_TRUE(desktop_.messages.empty());
    server.stop();
}

// A check that reaches nothing says so in the Connect Error box, once the event loop is back.
TEST_F(MainWindowTest, AVersionCheckThatReachesNothingShowsTheConnectError) {
    MainWindow& w = open();
    use_proxy(w, refused_port());
    desktop_.messages.clear();
    w.action(cmd::kVersionCheck)->trigger();
    VersionCheckDialog* d = w.vendor_dialogs().dialog();
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(wait_until([&] { return !desktop_.messages.empty(); }));
    EXPECT_FALSE(d->checking());
    EXPECT_EQ(desktop_.messages.front().caption, "Connect Error");
    EXPECT_NE(desktop_.messages.front().text.find("unable to connect"), std::string::npos);
    EXPECT_EQ(d->latest_version()->text(), "");
    EXPECT_FALSE(d->upgrade_button()->isEnabled());
}

TEST(WindowProcessTest, SigtermEndsTheWindowWhenSavingFails) {
    testing::TempDir home;
    const std::string folder = home.path() + "/tarnvelox";
    // Folders where the temporary files of the project and the settings go: both writes fail.
    fs::create_directories(folder + "/default.tvp.tmp");
    fs::create_directories(folder + "/tarnv.ini.tmp");
    const std::string err = home.file("stderr.txt");
    const pid_t child = spawn({TARNVELOX_GUI_BIN},
                              {"XDG_DATA_HOME=" + home.path(), "QT_QPA_PLATFORM=offscreen"}, err);
    ASSERT_GT(child, 0);
    // The project is open once its files are there.
    const bool up = wait_until([&] { return fs::exists(folder + "/default.mai"); }, 20000);
    ::kill(child, SIGTERM);
    int status = 0;
    const bool ended =
        wait_until([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 20000);
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    ASSERT_TRUE(up);
    ASSERT_TRUE(ended) << "SIGTERM did not end the window";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string told = read_file(err);
    EXPECT_NE(told.find("Unable to write Project File"), std::string::npos) << told;
    EXPECT_NE(told.find("tarnv.ini"), std::string::npos) << told;
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
