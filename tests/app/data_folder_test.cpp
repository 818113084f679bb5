#include "app/data_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "store/temp_dir.h"

namespace tarnvelox::app {
namespace {

std::string read(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(DataFolderTest, XdgDataHomeWinsWhenAbsoluteElseHomeLocalShare) {
    EXPECT_EQ(data_folder("/x/data", "/home/ann"), "/x/data/tarnvelox");
    EXPECT_EQ(data_folder(nullptr, "/home/ann"), "/home/ann/.local/share/tarnvelox");
    EXPECT_EQ(data_folder("", "/home/ann"), "/home/ann/.local/share/tarnvelox");
    EXPECT_EQ(data_folder("relative/data", "/home/ann"), "/home/ann/.local/share/tarnvelox");
    EXPECT_EQ(data_folder(nullptr, nullptr), "");
    EXPECT_EQ(data_folder(nullptr, "home"), "");
}

TEST(DataFolderTest, FirstStartCreatesTheFolderAndCopiesTheEnginesOnce) {
    testing::TempDir dir;
    const std::string shipped = dir.file("shipped.dat");
    std::ofstream(shipped) << "NAME=A\nREQ=http://a.example/?q=$QUERY\n";
    const std::string folder = dir.file("deep/share/tarnvelox");
    std::string error;
    ASSERT_TRUE(prepare_data_folder(folder, shipped, error)) << error;
    EXPECT_EQ(read(folder + "/engines.dat"), "NAME=A\nREQ=http://a.example/?q=$QUERY\n");

    // The person's own engines file is never replaced.
    std::ofstream(folder + "/engines.dat") << "NAME=Mine\n";
    ASSERT_TRUE(prepare_data_folder(folder, shipped, error));
    EXPECT_EQ(read(folder + "/engines.dat"), "NAME=Mine\n");

    // Without a shipped file the folder is still made.
    ASSERT_TRUE(prepare_data_folder(dir.file("other"), dir.file("missing.dat"), error));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("other")));
}

TEST(DataFolderTest, AFileInTheWayIsAnErrorWithItsName) {
    testing::TempDir dir;
    std::ofstream(dir.file("tarnvelox")) << "x";
    std::string error;
    EXPECT_FALSE(prepare_data_folder(dir.file("tarnvelox"), "", error));
    EXPECT_NE(error.find(dir.file("tarnvelox")), std::string::npos) << error;
    EXPECT_FALSE(prepare_data_folder("", "", error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace tarnvelox::app
