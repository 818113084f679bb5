#include "app/project_commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/list_commands.h"
#include "base/file_lock.h"
#include "fakes/fake_desktop.h"
#include "fakes/scripted_network.h"
#include "harvest/harvest_fixture.h"
#include "harvest/list_rows.h"

namespace tarnvelox::app {
namespace {

using store::TreeFile;
using tarnvelox::testing::FakeDesktop;
using tarnvelox::testing::ScriptedNetwork;

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

// A project of its own on disk: links and addresses stored apart from the context.
void make_project(const std::string& name, const std::vector<std::string>& links,
                  const std::vector<std::string>& addresses, const std::string& text) {
    store::Store st;
    store::set_project_path(st, name);
    ASSERT_TRUE(store::open_store(st));
    for (const auto& [which, keys] : {std::pair{TreeFile::Links, links},
                                      std::pair{TreeFile::Addresses, addresses}}) {
        for (const std::string& key : keys) {
            store::ItemRecord rec;
            rec.url = key;
            rec.title = key;
            rec.kind = which == TreeFile::Links ? store::KIND_PAGE : store::KIND_ADDRESS;
            ASSERT_GE(store::tree_insert(st, which, rec), 0);
        }
    }
    store::close_store(st);
    std::ofstream(name) << text;
}

// The commands work in the folder of the projects, as the program does in its data folder.
class ProjectCommandsTest : public harvest::testing::HarvestFixture {
  protected:
    ProjectCommandsTest() : home_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir_.path());
        make_project("test.tvp", {"http://a.example/1", "http://a.example/2"},
                     {"mailto:x@a.example", "mailto:y@a.example", "mailto:z@a.example"},
                     "URL=http://a.example/\nCRAWL=apples\n");
        make_project("other.tvp", {"http://b.example/1"}, {}, "URL=http://b.example/\n");
        // What the front end does at start-up.
        ctx_.settings.project = "test.tvp";
        EXPECT_EQ(ctx_.lock_current_project(), Context::ProjectLock::Locked);
        EXPECT_EQ(ctx_.load_current_project(nullptr), 1);
        harvest::refill_views(lists_, shell_, maxlist_);
    }
    ~ProjectCommandsTest() override { std::filesystem::current_path(home_); }

    void choose(const std::string& path) { desktop_.next_file = platform::FileDialogAnswer{path}; }
    // Whether another program could take the project's lock now.
    static bool lock_free(const std::string& project) {
        base::FileLock other;
        return other.lock(project_lock_name(project)) == base::FileLock::Result::Locked;
    }

    std::filesystem::path home_;
    FakeDesktop desktop_;
};

TEST_F(ProjectCommandsTest, OpenAsksFirstThenSavesTheOldProjectWholeAndLoadsTheNewOne) {
    desktop_.next_file.reset();
    EXPECT_EQ(open_project(ctx_, desktop_, OpenKind::Open, nullptr).result,
              ProjectResult::Cancelled);
    EXPECT_EQ(shell_.address_rows.size(), 3u);
    EXPECT_TRUE(desktop_.file_requests.at(0).must_exist);

    ctx_.settings.modrep = 0;
    choose("other.tvp");
    EXPECT_EQ(open_project(ctx_, desktop_, OpenKind::Open, nullptr).result,
              ProjectResult::Opened);
    EXPECT_NE(contents("test.tvp").find("COUNT=3\n"), std::string::npos);
    EXPECT_EQ(ctx_.settings.modrep, 1);
    EXPECT_EQ(store_.links_path, "other.lin");
    EXPECT_EQ(shell_.link_rows, std::vector<std::string>{"http://b.example/1"});
    EXPECT_EQ(search_.starting_url, "http://b.example/");
    EXPECT_TRUE(lock_free("test.tvp"));
    EXPECT_FALSE(lock_free("other.tvp"));
}

TEST_F(ProjectCommandsTest, ProjectHeldByAnotherProgramIsRefusedAndNothingChanges) {
    base::FileLock other;
    ASSERT_EQ(other.lock(project_lock_name("other.tvp")), base::FileLock::Result::Locked);
    choose("other.tvp");
    EXPECT_EQ(open_project(ctx_, desktop_, OpenKind::Open, nullptr).result, ProjectResult::InUse);
    EXPECT_NE(shell_.errors.at(0).find("'other.tvp' is in use"), std::string::npos);
    EXPECT_EQ(lists_.links.size(), 2);
    EXPECT_FALSE(lock_free("test.tvp"));
}

TEST_F(ProjectCommandsTest, NewNameGetsTheExtensionAndAnExistingProjectIsOpened) {
    struct Case {
        std::string chosen;
        std::string project;
        std::size_t links;
    };
    for (const Case& c : {Case{"fresh", "fresh.tvp", 0}, Case{"other.tvp", "other.tvp", 1}}) {
        SCOPED_TRACE(c.chosen);
        choose(c.chosen);
        EXPECT_EQ(open_project(ctx_, desktop_, OpenKind::New, nullptr).result,
                  ProjectResult::Opened);
        EXPECT_EQ(ctx_.settings.project, c.project);
        EXPECT_EQ(static_cast<std::size_t>(lists_.links.size()), c.links);
    }
}

TEST_F(ProjectCommandsTest, SaveAsCopiesTheFilesAndLaterChangesGoToTheCopies) {
    std::ofstream("test.lib") << "kept\n";
    const std::string old_links = contents("test.lin");
    ASSERT_TRUE(store::open_store(store_));  // buffered nodes must reach the copy too
    store::ItemRecord late;
    late.url = "http://a.example/3";
    late.kind = store::KIND_PAGE;
    ASSERT_GE(store::tree_insert(store_, TreeFile::Links, late), 0);

    choose("copy");
    EXPECT_EQ(save_project_as(ctx_, desktop_).result, ProjectResult::SavedAs);
    EXPECT_TRUE(desktop_.questions.empty());  // nothing of the new name existed
    EXPECT_EQ(ctx_.settings.project, "copy.tvp");
    EXPECT_EQ(contents("copy.lin"), contents("test.lin"));
    EXPECT_EQ(contents("copy.mai"), contents("test.mai"));
    EXPECT_EQ(contents("copy.lib"), "kept\n");
    EXPECT_NE(contents("copy.tvp").find("CRAWL=apples\n"), std::string::npos);
    EXPECT_NE(contents("copy.lin"), old_links);
    EXPECT_FALSE(lock_free("copy.tvp"));

    // The rows keep their offsets: a delete reaches the right node of the copy.
    const std::string before = contents("test.lin");
    std::vector<int32_t> first{0};
    ASSERT_EQ(delete_selected_rows(ctx_, TreeFile::Links, first), 1);
    EXPECT_EQ(stored_urls(TreeFile::Links),
              (std::vector<std::string>{"http://a.example/2", "http://a.example/3"}));
    EXPECT_EQ(contents("test.lin"), before);
}

TEST_F(ProjectCommandsTest, SaveAsOntoTheProjectsOwnFilesIsASave) {
    const std::string links = contents("test.lin");
    for (const std::string chosen : {"test.tvp", "./test.tvp", "test.old", "test"}) {
        SCOPED_TRACE(chosen);
        search_.crawl_keywords = "pears " + chosen;
        choose(chosen);
        EXPECT_EQ(save_project_as(ctx_, desktop_).result, ProjectResult::Saved);
        EXPECT_EQ(ctx_.settings.project, "test.tvp");
        EXPECT_EQ(contents("test.lin"), links);
        EXPECT_NE(contents("test.tvp").find("CRAWL=pears " + chosen), std::string::npos);
    }
    EXPECT_TRUE(desktop_.questions.empty());
}

TEST_F(ProjectCommandsTest, CompanionsOfTheNewNameAreReplacedOnlyAfterYes) {
    std::ofstream("copy.lin") << "not a project";
    std::ofstream("copy.mai") << "not a project";
    desktop_.answer_yes = false;
    choose("copy.tvp");
    EXPECT_EQ(save_project_as(ctx_, desktop_).result, ProjectResult::Cancelled);
    ASSERT_EQ(desktop_.questions.size(), 1u);
    EXPECT_NE(desktop_.questions[0].second.find("'copy.lin', 'copy.mai'"), std::string::npos);
    EXPECT_EQ(contents("copy.lin"), "not a project");
    EXPECT_FALSE(exists("copy.tvp"));

    desktop_.answer_yes = true;
    EXPECT_EQ(save_project_as(ctx_, desktop_).result, ProjectResult::SavedAs);
    EXPECT_EQ(contents("copy.lin"), contents("test.lin"));
}

TEST_F(ProjectCommandsTest, UnreadableProjectFileIsNeverSavedOver) {
    ASSERT_EQ(::mkfifo("bad.tvp", 0644), 0);
    choose("bad.tvp");
    EXPECT_EQ(open_project(ctx_, desktop_, OpenKind::Open, nullptr).loaded, 0);

    auto still_a_fifo = [] {
        struct stat st {};
        return ::stat("bad.tvp", &st) == 0 && S_ISFIFO(st.st_mode);
    };
    choose("copy.tvp");
    EXPECT_EQ(save_project_as(ctx_, desktop_).result, ProjectResult::SavedAs);
    EXPECT_TRUE(still_a_fifo());
    // Back on the unreadable one, another Open leaves it alone too.
    choose("bad.tvp");
    ASSERT_EQ(open_project(ctx_, desktop_, OpenKind::Open, nullptr).loaded, 0);
    choose("other.tvp");
    EXPECT_EQ(open_project(ctx_, desktop_, OpenKind::Open, nullptr).result,
              ProjectResult::Opened);
    EXPECT_TRUE(still_a_fifo());
}

TEST_F(ProjectCommandsTest, AWriteFailureOfTheLastProjectDoesNotStopSaveAsOfTheNext) {
    store_.write_failing = true;  // a harvest of test.tvp met a full disk
    choose("other.tvp");
    ASSERT_EQ(open_project(ctx_, desktop_, OpenKind::Open, nullptr).result,
              ProjectResult::Opened);
    choose("copy.tvp");
    EXPECT_EQ(save_project_as(ctx_, desktop_).result, ProjectResult::SavedAs);
    EXPECT_EQ(contents("copy.lin"), contents("other.lin"));
}

TEST_F(ProjectCommandsTest, DeleteTellsTheFilesItCouldNotDelete) {
    // Something the program cannot remove has taken the addresses file's name.
    std::filesystem::remove("test.mai");
    std::filesystem::create_directories("test.mai/kept");
    EXPECT_EQ(delete_project(ctx_, desktop_, nullptr).result, ProjectResult::Opened);
    EXPECT_FALSE(exists("test.tvp"));
    ASSERT_EQ(shell_.errors.size(), 1u);
    EXPECT_NE(shell_.errors[0].find("'test.mai'"), std::string::npos) << shell_.errors[0];
}

TEST(ProjectNamesTest, FolderAndExtensionComeFromTheFileName) {
    struct Case {
        std::string path;
        std::string folder;
        std::string project;
    };
    for (const Case& c : {
             Case{"/home/me/out.txt", "/home/me", "/home/me/out.txt"},
             Case{"/out", "/", "/out.tvp"},
             Case{"out", "", "out.tvp"},
             Case{"my.dir/out", "my.dir", "my.dir/out.tvp"},
             Case{"a/b/", "a/b", "a/b/.tvp"},
         }) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(folder_of(c.path), c.folder);
        EXPECT_EQ(with_project_extension(c.path), c.project);
    }
}

// A small site: the start page links to /a.html, which alone links to /b.html and names an
// address, so what /a.html brings is found after the start page was read.
class ProjectDuringRunTest : public ProjectCommandsTest {
  protected:
    ProjectDuringRunTest() {
        ctx_.settings.packcount = 1;
        ctx_.net.folder = dir_.path();
        network_.resolve("site.example", "10.0.0.1");
        ScriptedNetwork::Server site{page("<a href=\"/a.html\">a</a>")};
        site.by_target["/a.html"] = {
            page("<a href=\"/b.html\">b</a> <a href=\"mailto:late@site.example\">w</a>")};
        network_.serve("10.0.0.1", site);
        search_.starting_url = "http://site.example/";
        search_.crawl_keywords.reset();  // the project's own would keep the site's links out
    }
    static std::string page(const std::string& body) {
        return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body>" + body +
               "</body></html>";
    }
    bool file_holds(const std::string& file, const std::string& key) {
        return contents(file).find(key) != std::string::npos;
    }

    ScriptedNetwork network_;
    NullRunWindow window_;
    HarvestRun& control_ = ctx_.attach(network_, network_, window_);
};

TEST_F(ProjectDuringRunTest, SaveAsDuringAHarvestLandsTheLaterFindsInTheNewProject) {
    choose("copy.tvp");
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    ProjectOutcome saved;
    bool asked = false;
    network_.run(control_, 100'000, [&] {
        if (asked || store_.links.find("http://site.example/a.html") < 0) return;
        asked = true;
        saved = save_project_as(ctx_, desktop_);
    });
    EXPECT_EQ(saved.result, ProjectResult::SavedAs);
    EXPECT_FALSE(file_holds("test.lin", "b.html"));
    EXPECT_FALSE(file_holds("test.mai", "late@"));
    EXPECT_TRUE(file_holds("copy.lin", "b.html"));
    EXPECT_TRUE(file_holds("copy.mai", "late@"));
    EXPECT_EQ(network_.requests_for("/b.html"), 1);
}

TEST_F(ProjectDuringRunTest, DeleteLoadsDefaultSoTheNextHarvestAndRestartUseIt) {
    desktop_.answer_yes = false;
    EXPECT_EQ(delete_project(ctx_, desktop_, nullptr).result, ProjectResult::Cancelled);
    EXPECT_TRUE(exists("test.tvp"));

    desktop_.answer_yes = true;
    EXPECT_EQ(delete_project(ctx_, desktop_, nullptr).result, ProjectResult::Opened);
    EXPECT_EQ(ctx_.settings.project, "default.tvp");
    EXPECT_TRUE(lists_.links.empty());
    EXPECT_FALSE(lock_free("default.tvp"));

    search_.starting_url = "http://site.example/";
    ASSERT_EQ(control_.start_harvest(harvest::kHarvest), 1);
    network_.run(control_);
    ASSERT_EQ(ctx_.save_current_project(), 1);  // what the exit does

    for (const char* gone : {"test.tvp", "test.lin", "test.mai"}) EXPECT_FALSE(exists(gone));
    EXPECT_TRUE(file_holds("default.lin", "b.html"));
    tarnvelox::testing::RecordingShell shell;
    Context restarted(shell);
    restarted.settings.project = "default.tvp";
    ASSERT_EQ(restarted.load_current_project(nullptr), 1);
    EXPECT_EQ(restarted.lists.links.size(), 3);
    EXPECT_EQ(restarted.lists.addresses.size(), 1);
}

}  // namespace
}  // namespace tarnvelox::app
