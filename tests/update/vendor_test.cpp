#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "store/item_record.h"
#include "store/temp_dir.h"
#include "update/vendor_answer.h"
#include "update/vendor_index.h"
#include "update/vendor_requests.h"
#include "update/vendor_state.h"

namespace tarnvelox::update {
namespace {

struct Settings {
    int32_t lastwarn = 0, upgrade = 0, upgradenew = 0, news = 0;
    VendorSettings view() { return {lastwarn, upgrade, upgradenew, news}; }
};

std::vector<std::string> texts(const std::vector<VendorMessage>& boxes) {
    std::vector<std::string> out;
    for (const VendorMessage& box : boxes) out.push_back(box.text);
    return out;
}

TEST(VendorAnswerTest, CommandsActInOrderOnCompleteLines) {
    struct Row {
        std::string answer;
        int32_t news_before, upgrade_before;
        std::vector<std::string> boxes;
        int32_t news, upgradenew, version, build;
        std::string setup_url;
    };
    const std::vector<Row> rows = {
        {"#NEWS=3,Hello;rest\n", 2, 0, {"Hello"}, 3, 0, 0, 0, ""},
        {"#NEWS=3 Hello\n", 2, 0, {}, 2, 0, 0, 0, ""},
        {"#NEWS=4,A\n#NEWS=4,A\n", 0, 0, {"A"}, 4, 0, 0, 0, ""},
        {"#NEWS=4,A\n", 4, 0, {}, 4, 0, 0, 0, ""},
        {"#MESSAGE=Hi;x\n", 0, 0, {"Hi"}, 0, 0, 0, 0, ""},
        {"#MESSAGEV=99,Old\n#MESSAGEV=100,Same\n", 0, 0, {"Old"}, 0, 0, 0, 0, ""},
        {"#MESSAGEVEQ=99,a\n#MESSAGEVEQ=100,b\n#MESSAGEVEQ=101,c\n", 0, 0, {"b"}, 0, 0, 0, 0, ""},
        {"#VER1=101;New!;x\n", 0, 0, {"New!"}, 0, 0, 101, 0, ""},
        {"#VER1=100;Same\n", 0, 0, {}, 0, 0, 100, 0, ""},
        {"#BUILD=7;https://h/a.run;x\n#BUILD= 8\n", 0, 0, {}, 0, 0, 0, 8, "https://h/a.run"},
        {"#UPGRADE=  5\n", 3, 3, {}, 3, 5, 0, 0, ""},
        {"#UPGRADE=2\n", 0, 3, {}, 0, 0, 0, 0, ""},
        {"HTTP/1.0 200 OK\r\n\r\n   #MESSAGE=a\n#message=b\n#NEWSX=1,c\n#MESSAGE=cut", 0, 0,
         {"a"}, 0, 0, 0, 0, ""},
        {"#MESSAGE=1\n#MESSAGE=2\n#MESSAGE=3\n#MESSAGE=4\n#VER1=105\n", 0, 0, {"1", "2", "3"}, 0,
         0, 105, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer);
        Settings settings;
        settings.news = row.news_before;
        settings.upgrade = row.upgrade_before;
        VendorState state;
        std::vector<VendorMessage> boxes;
        EXPECT_EQ(parse_vendor_answer(row.answer, state, settings.view(), boxes), 1);
        EXPECT_EQ(texts(boxes), row.boxes);
        EXPECT_EQ(settings.news, row.news);
        EXPECT_EQ(settings.upgradenew, row.upgradenew);
        EXPECT_EQ(state.latest_version, row.version);
        EXPECT_EQ(settings.lastwarn, row.version);
        EXPECT_EQ(state.latest_build, row.build);
        EXPECT_EQ(state.setup_url, row.setup_url);
        EXPECT_EQ(state.answers_received, 1);
    }
}

TEST(VendorAnswerTest, HugeAnswerAsksForFewBoxes) {
    std::string answer;
    while (answer.size() < 10'000'000) answer += "#MESSAGE=again and again\n";
    Settings settings;
    VendorState state;
    std::vector<VendorMessage> boxes;
    (void)parse_vendor_answer(answer, state, settings.view(), boxes);
    EXPECT_EQ(boxes.size(), kMaxBoxesPerAnswer);
    EXPECT_EQ(boxes.front().caption, kMessageCaption);
}

TEST(VendorStateTest, UpgradeIsOfferedOnlyForANewerSetup) {
    struct Row {
        int32_t version, build;
        std::string url;
        bool offered;
    };
    for (const Row& row : std::vector<Row>{{100, 5, "https://h/s", false},
                                           {100, 6, "https://h/s", true},
                                           {100, 7, "https://h/s", true},
                                           {101, 0, "", false},
                                           {101, 0, "https://h/s", true},
                                           {99, 9, "https://h/s", false}}) {
        SCOPED_TRACE(std::to_string(row.version) + "/" + std::to_string(row.build) + row.url);
        VendorState state;
        state.latest_version = row.version;
        state.latest_build = row.build;
        state.setup_url = row.url;
        EXPECT_EQ(upgrade_available(state), row.offered);
    }
    VendorState state;
    state.latest_version = 101;
    state.latest_build = 7;
    EXPECT_EQ(latest_version_text(state), "Tarnvelox v1.01");
    EXPECT_EQ(latest_build_text(state), "Build: 007");
    EXPECT_EQ(latest_build_text(VendorState{}), "");
    EXPECT_EQ(latest_version_text(VendorState{}), "");
}

TEST(VendorIndexTest, ReadsClassedSectionsEndedByABar) {
    testing::TempDir dir;
    const std::string path = dir.file("tarnv.idx");
    VendorState state;
    EXPECT_EQ(read_vendor_index(path, state), 0);
    std::ofstream(path) << "head\n%%*00\nold\n|\n%%*00\nline a  \n\nend|\n%%$01\nb\n| \n"
                           "%%#02\nskipped\n|\n%%*04\nout of range\n|\n%%*03\nno bar\n";
    state.index_sections[3] = "earlier";
    ASSERT_EQ(read_vendor_index(path, state), 1);
    EXPECT_EQ(state.index_sections[0], "line a  \n\n");
    EXPECT_EQ(state.index_sections[1], "b\n");
    EXPECT_EQ(state.index_sections[2], "");
    EXPECT_EQ(state.index_sections[3], "");
}

TEST(VendorRequestsTest, CheckGoesOnceThenTheDownloadInUpgradeMode) {
    using Result = harvest::SpecialRequests::Result;
    struct Row {
        const char* name;
        int32_t mode, answers, checks, upgrades;
        std::string pending;
        Result result;
        std::string url;
        uint32_t kind;
    };
    const uint32_t kDownload = store::KIND_VENDOR | store::KIND_DOWNLOAD;
    const std::vector<Row> rows = {
        {"first harvest", harvest::kModeHarvest, 0, 0, 0, "", Result::Given,
         std::string(kCheckUrl), store::KIND_VENDOR},
        {"check sent", harvest::kModeHarvest, 0, 1, 0, "", Result::None, "", 0},
        {"answer known", harvest::kModeHarvest, 1, 0, 0, "", Result::None, "", 0},
        {"dialog waits", harvest::kModeVersionCheck, 0, 1, 0, "", Result::HoldBack, "", 0},
        {"setup", harvest::kModeUpgrade, 0, 0, 0, "https://h/s.run", Result::Given,
         "https://h/s.run", kDownload},
        {"index", harvest::kModeUpgrade, 1, 0, 0, "", Result::Given, std::string(kIndexUrl),
         kDownload},
        {"download sent", harvest::kModeUpgrade, 1, 0, 1, "", Result::HoldBack, "", 0},
        {"single page", harvest::kModeSinglePage, 0, 0, 0, "", Result::None, "", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        harvest::RunState run;
        run.engine_mode = row.mode;
        VendorState state;
        state.answers_received = row.answers;
        state.check_counter = row.checks;
        state.upgrade_counter = row.upgrades;
        net::Download download;
        download.url = row.pending;
        VendorRequests requests(run, state, download);
        harvest::SlotItem item;
        ASSERT_EQ(requests.serve(0, item), row.result);
        if (row.result != Result::Given) continue;
        ASSERT_NE(item.item, nullptr);
        EXPECT_EQ(item.item->url.value_or(""), row.url);
        EXPECT_EQ(item.item->kind, row.kind);
        EXPECT_EQ(item.item->file_offset, -1);
        EXPECT_EQ(state.check_counter + state.upgrade_counter, row.checks + row.upgrades + 1);
    }
}

}  // namespace
}  // namespace tarnvelox::update
