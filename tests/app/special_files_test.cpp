// Files that never end or never open: a FIFO or a device where the program expects its settings,
// project, engines or links file is refused at once with a message, never read or waited on.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/context.h"
#include "fakes/recording_shell.h"
#include "search/engines.h"
#include "store/temp_dir.h"

namespace tarnvelox::app {
namespace {

TEST(SpecialFilesTest, FifosAndDevicesAreRefusedWithoutWaiting) {
    testing::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("tarnv.ini").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(dir.file("engines.dat").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(dir.file("p.lin").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.file("p.tvp"));
    std::filesystem::create_symlink("/dev/zero", dir.file("p.mai"));

    testing::RecordingShell shell;
    Context ctx(shell);
    ctx.read_settings_file(dir.file("tarnv.ini"));
    ASSERT_EQ(shell.errors.size(), 1u);
    EXPECT_NE(shell.errors[0].find("tarnv.ini"), std::string::npos);
    EXPECT_EQ(ctx.settings, Settings());  // the defaults

    EXPECT_EQ(search::load_engines(ctx.engines, dir.file("engines.dat"), shell), 0);
    ASSERT_EQ(shell.errors.size(), 2u);
    EXPECT_NE(shell.errors[1].find("Unable to Load Engines File"), std::string::npos);

    ctx.settings.project = dir.file("p.tvp");
    EXPECT_EQ(ctx.load_current_project(nullptr), 0);
    ASSERT_EQ(shell.errors.size(), 3u);
    EXPECT_NE(shell.errors[2].find("p.tvp"), std::string::npos);

    // The links file a FIFO, the addresses file a device: neither opens.
    EXPECT_FALSE(store::open_store(ctx.store));
    EXPECT_FALSE(ctx.store.links.is_open());
    EXPECT_FALSE(ctx.store.addresses.is_open());
}

}  // namespace
}  // namespace tarnvelox::app
