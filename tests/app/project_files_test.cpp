// The project's files as a whole: which files a project name stands for, and a project whose
// project file is missing beside its links and addresses.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "app/context.h"
#include "base/file_lock.h"
#include "fakes/recording_shell.h"
#include "store/temp_dir.h"

namespace tarnvelox::app {
namespace {

namespace fs = std::filesystem;

class ProjectFilesTest : public ::testing::Test {
protected:
    ProjectFilesTest() : old_dir_(fs::current_path()) { fs::current_path(dir_.path()); }
    ~ProjectFilesTest() override { fs::current_path(old_dir_); }

    testing::TempDir dir_;
    fs::path old_dir_;
    testing::RecordingShell shell_;
};

// "project=" with nothing after it is the default project, never a file named ".tvp" with
// hidden ".lin" and ".mai" files.
TEST_F(ProjectFilesTest, EmptyProjectSettingMeansTheDefaultProject) {
    std::ofstream("tarnv.ini") << "project=\n";
    Context ctx(shell_);
    ctx.read_settings_file("tarnv.ini");
    ASSERT_EQ(ctx.settings.project, std::optional<std::string>(""));
    ASSERT_EQ(ctx.load_current_project(nullptr), 1);
    ASSERT_TRUE(ctx.open_project_files());
    ASSERT_EQ(ctx.save_current_project(), 1);
    store::close_store(ctx.store);
    for (const char* file : {"default.tvp", "default.lin", "default.mai"}) {
        EXPECT_TRUE(fs::exists(file)) << file;
    }
    for (const char* file : {".tvp", ".lin", ".mai"}) EXPECT_FALSE(fs::exists(file)) << file;
    EXPECT_TRUE(shell_.errors.empty());
}

// The exit's saving: a project file that could not be read is never written over (its texts
// would be lost), and a project another program holds gets neither its project file nor the
// settings written. Either way the exit itself succeeds: nothing that was due failed.
TEST_F(ProjectFilesTest, ShutDownLeavesAnUnreadableOrLockedProjectAlone) {
    for (const bool locked : {false, true}) {
        SCOPED_TRACE(locked ? "locked by another program" : "unreadable project file");
        fs::remove_all("default.tvp");
        fs::remove("tarnv.ini");
        base::FileLock other;
        Context ctx(shell_);
        ctx.start_up("tarnv.ini", Context::EnginesFile::Optional);
        if (locked) {
            std::ofstream("default.tvp") << "URL=http://kept.example\n";
            ASSERT_EQ(other.lock(project_lock_name("default.tvp")), base::FileLock::Result::Locked);
            ASSERT_EQ(ctx.lock_current_project(), Context::ProjectLock::InUse);
            EXPECT_TRUE(ctx.locked_out);
        } else {
            ASSERT_EQ(::mkfifo("default.tvp", 0600), 0);  // refused unread, replaced if saved
            ASSERT_EQ(ctx.lock_current_project(), Context::ProjectLock::Locked);
            ASSERT_EQ(ctx.load_current_project(nullptr), 0);
            EXPECT_TRUE(ctx.project_unreadable);
        }
        EXPECT_TRUE(ctx.shut_down("tarnv.ini"));
        if (locked) {
            std::ifstream in("default.tvp");
            std::string text((std::istreambuf_iterator<char>(in)), {});
            EXPECT_EQ(text, "URL=http://kept.example\n");
        } else {
            EXPECT_TRUE(fs::is_fifo("default.tvp"));
        }
        EXPECT_EQ(fs::exists("tarnv.ini"), !locked);
    }
}

// A first run that ended before its project file was written: its links and addresses are the
// project, and the load says so.
TEST_F(ProjectFilesTest, LinksAndAddressesWithoutTheirProjectFileAreLoaded) {
    {
        store::Store st;
        store::set_project_path(st, "default.tvp");
        ASSERT_TRUE(store::open_store(st));
        store::ItemRecord link;
        link.url = "http://site.example/a.html";
        link.kind = store::KIND_PAGE;
        ASSERT_GE(store::tree_insert(st, store::TreeFile::Links, link), 0);
        link.url = "http://site.example/b.html";
        ASSERT_GE(store::tree_insert(st, store::TreeFile::Links, link), 0);
        store::ItemRecord address;
        address.url = "mailto:ann@site.example";
        address.title = "ann@site.example";
        address.kind = store::KIND_ADDRESS;
        ASSERT_GE(store::tree_insert(st, store::TreeFile::Addresses, address), 0);
        store::close_store(st);
    }
    Context ctx(shell_);
    ctx.settings.maxlist = 1;  // the figures come from the files, not from what the lists took
    EXPECT_EQ(ctx.load_current_project(nullptr), Context::kLoadedWithoutProjectFile);
    EXPECT_EQ(ctx.lists.links.size(), 1);
    EXPECT_EQ(ctx.lists.addresses.size(), 1);
    EXPECT_EQ(ctx.store.total_addresses, 1);
    EXPECT_EQ(ctx.store.total_links, 2);
    EXPECT_EQ(ctx.store.unvisited_when_closed, 2);
    EXPECT_EQ(ctx.run.visited_links, 0);
    EXPECT_TRUE(shell_.errors.empty());
}

}  // namespace
}  // namespace tarnvelox::app
