#include "net/response.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "harvest/harvest_fixture.h"
#include "net/vendor.h"

namespace tarnvelox::net {
namespace {

using store::ItemRecord;
using store::TreeFile;

class RecordingVendor : public VendorHandler {
public:
    void index_saved() override { ++indexes; }
    void answer_received(std::string_view response) override { answers.emplace_back(response); }
    void download_finished(std::string_view name) override { downloads.emplace_back(name); }
    int indexes = 0;
    std::vector<std::string> answers;
    std::vector<std::string> downloads;
};

class ResponseTest : public harvest::testing::HarvestFixture {
protected:
    ResponseTest() {
        net_.folder = dir_.path();
        net_.vendor = &vendor_;
        EXPECT_TRUE(store::open_store(store_));
    }
    // Puts a stored link for `url` into slot 0, as the frontier would.
    ItemRecord& fetch(const std::string& url, uint32_t kind = store::KIND_PAGE) {
        store::RecordPtr rec = store::clear_record();
        rec->url = url;
        rec->title = "Old title";
        rec->kind = kind;
        rec->status = store::STATUS_VISITED;
        if ((kind & store::KIND_VENDOR) == 0) {
            rec->file_offset = store::tree_insert(store_, TreeFile::Links, *rec);
            EXPECT_GE(rec->file_offset, 0);
        } else {
            rec->file_offset = -1;
        }
        Slot& slot = slots_.slots[0];
        slot.item.item = &lists_.links.append(std::move(rec));
        return *slot.item.item;
    }
    int answer(std::string_view bytes) {
        Slot& slot = slots_.slots[0];
        slot.response.assign(bytes.begin(), bytes.end());
        slot.response.resize(((bytes.size() + 300) / 2048 + 1) * 2048, '\0');
        slot.received = static_cast<int32_t>(bytes.size());
        slot.state = SlotState::Receiving;
        return complete_response(net_, 0);
    }
    std::string status_line() const {
        // The message after the blank every status line is shown with.
        return shell_.statuses.empty() ? "" : shell_.statuses.back().second.substr(1);
    }
    std::string file(const std::string& name) {
        std::ifstream in(dir_.file(name), std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    SlotTable& slots_ = ctx_.slots;
    RecordingVendor vendor_;
    Download& download_ = ctx_.download;
    NetEnv& net_ = ctx_.net;
};

TEST_F(ResponseTest, RedirectsQueueTheirTargetAndFailTheMovedItem) {
    struct Row {
        std::string item_url, response, target;
    };
    const Row rows[] = {
        {"http://h.example/d/p.html",
         "HTTP/1.0 301 Moved\r\nLocation: http://other.example/new.html\r\n\r\n",
         "http://other.example/new.html"},
        {"http://h.example/d/p.html", "HTTP/1.0 302 Found\r\nLocation: a.html\r\n\r\n",
         "http://h.example/d/a.html"},
        {"http://h.example/d/p.html", "HTTP/1.0 302 Found\r\nLocation: /a.html\r\n\r\n",
         "http://h.example/a.html"},
        {"http://h.example", "HTTP/1.0 302 Found\r\nLocation: a.html\r\n\r\n",
         "http://h.example/a.html"},
        {"http://h.example", "HTTP/1.0 302 Found\r\nLocation:   /a.html\r\n\r\n",
         "http://h.example/a.html"},
        // An earlier header's "http:" wins over the Location header.
        {"http://h.example/p.html",
         "HTTP/1.0 302 Found\r\nLink: <http://first.example/x.html>\r\nLocation: /b.html\r\n\r\n",
         "http://first.example/x.html>"},
        {"http://h.example/p.html",
         "HTTP/1.0 301 Moved\r\nLocation: https://secure.example/s.html\r\n\r\n",
         "https://secure.example/s.html"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.response);
        store::close_store(store_);
        std::remove(store_.links_path.c_str());
        ASSERT_TRUE(store::open_store(store_));
        ItemRecord& item = fetch(row.item_url);
        EXPECT_EQ(answer(row.response), 1);
        EXPECT_EQ(status_line(), "Document Moved");
        EXPECT_EQ(item.status & (store::STATUS_MOVED | store::STATUS_BAD | store::STATUS_VISITED),
                  store::STATUS_MOVED | store::STATUS_BAD | store::STATUS_VISITED);
        const auto urls = stored_urls(TreeFile::Links);
        ASSERT_EQ(urls.size(), 2u);
        EXPECT_EQ(urls[1], row.target);
        EXPECT_EQ(slots_.slots[0].state, SlotState::Idle);
        EXPECT_TRUE(slots_.slots[0].response.empty());
        const auto recs = stored(TreeFile::Links);
        EXPECT_EQ(recs[0]->status, item.status);  // the moved item's line was rewritten
        EXPECT_EQ(*recs[1]->title, "Old title");
    }
}

TEST_F(ResponseTest, ErrorAnswersFailTheItemWithTheirCode) {
    struct Row {
        std::string response, status_line, http_status;
        int32_t extra_bits;
    };
    const Row rows[] = {
        {"HTTP/1.0 400 Bad\r\n\r\n", "Bad Request", "400", 0},
        {"HTTP/1.0 404 Not Found\r\n\r\n", "File not found", "404", store::STATUS_NOT_FOUND},
        {"HTTP/1.0 403 Forbidden\r\n\r\n", "Forbidden Territory", "403", 0},
        {"HTTP/1.0 500 Oops\r\n\r\nshort", "Request Error (HTTP/1.0 500 Oops\r\n\r\nshort)", "", 0},
        {"garbage without any status", "Request Error (garbage without any status)", "", 0},
    };
    int bad = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.response);
        ItemRecord& item = fetch("http://h.example/" + std::to_string(bad) + ".html");
        EXPECT_EQ(answer(row.response), 0);
        EXPECT_EQ(status_line(), row.status_line);
        EXPECT_EQ(item.http_status.value_or(""), row.http_status);
        EXPECT_EQ(item.status, store::STATUS_VISITED | store::STATUS_BAD | row.extra_bits);
        EXPECT_EQ(run_.bad_links, ++bad);
        EXPECT_EQ(slots_.slots[0].state, SlotState::Idle);
        store::RecordPtr back = store_.links.read_at(item.file_offset);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->status, item.status);
        EXPECT_EQ(back->http_status.value_or(""), row.http_status);
    }
}

TEST_F(ResponseTest, DocumentsAreScannedAndTheirHeadersKept) {
    ItemRecord& item = fetch("http://h.example/d/index.html");
    const std::string page =
        "HTTP/1.0 200 OK\r\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n"
        "content-length: 1234\r\n\r\n<title>Shop</title><a href=\"b.html\">B</a> "
        "mail sales@h.example now";
    EXPECT_EQ(answer(page), 1);
    EXPECT_EQ(item.modified, std::optional<std::string>("Tue, 01 Dec 2026 10:00:00 GMT"));
    EXPECT_EQ(item.size, std::optional<std::string>("1234"));
    EXPECT_EQ(item.title, std::optional<std::string>("Shop"));
    EXPECT_EQ(stored_urls(TreeFile::Links),
              (std::vector<std::string>{"http://h.example/d/index.html", "http://h.example/d/b.html"}));
    EXPECT_EQ(stored_urls(TreeFile::Addresses),
              std::vector<std::string>{"mailto:sales@h.example"});
    EXPECT_EQ(slots_.slots[0].state, SlotState::Idle);
    store::RecordPtr back = store_.links.read_at(item.file_offset);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(*back->size, "1234      ");
    EXPECT_EQ(*back->title, "Shop");

    // Without a blank line no header is read: size and date stay; the whole text is scanned.
    ItemRecord& second = fetch("http://h.example/d/second.html");
    second.size = "77";
    EXPECT_EQ(answer("HTTP/1.0 200 OK\r\nLast-Modified: x\r\n<a href=\"c.html\">C</a>"), 1);
    EXPECT_EQ(second.size, std::optional<std::string>("77"));
    EXPECT_EQ(stored_urls(TreeFile::Links).back(), "http://h.example/d/c.html");

    // A long answer with an unlisted status is a document; so is a 30x without a target.
    fetch("http://h.example/d/third.html");
    EXPECT_EQ(answer("HTTP/1.0 500 Oops\r\n\r\n" + std::string(1100, 'x')), 1);
    fetch("http://h.example/d/fourth.html");
    EXPECT_EQ(answer("HTTP/1.0 302 Found\r\n\r\n<b>no target</b>"), 1);
}

TEST_F(ResponseTest, HostileHeadersEndAsDocumentsOrFailures) {
    struct Row {
        std::string response;
        int result;
    };
    const std::string huge(2 * 1024 * 1024, 'v');
    const Row rows[] = {
        {"HTTP/1.0 301 Moved\r\nLocation: ", 1},
        {"HTTP/1.0 301 Moved\r\nLocation: \r\n\r\n", 1},
        {"HTTP/1.0 302 Found\r\nLocation: \r\nServer: x\r\n\r\n", 1},
        {"HTTP/1.0 200 OK\r\nContent-Length:", 1},
        {"HTTP/1.0 200 OK\r\nLast-Modified:\r\n\r\n", 1},
        {"HTTP/1.0 200 OK\r\nLast-Modified: " + huge + "\r\n\r\nbody", 1},
        {std::string("HTTP/1.0 200 OK\r\n\r\nbefore\0after@x.example", 40), 1},
        {std::string("\0\0\0", 3), 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.response.substr(0, 60));
        ItemRecord& item = fetch("http://h.example/x" + std::to_string(row.response.size()) + ".html");
        EXPECT_EQ(answer(row.response), row.result);
        EXPECT_EQ(slots_.slots[0].state, SlotState::Idle);
        EXPECT_LE(item.modified.value_or("").size(), 2047u);
    }
    // An empty Location value queued nothing: no directory, no header line as a target.
    for (const std::string& url : stored_urls(TreeFile::Links)) {
        EXPECT_NE(url.find("/x"), std::string::npos) << url;
    }
}

TEST_F(ResponseTest, StopLeavesTheSlotFinishing) {
    fetch("http://h.example/a.html");
    run_.stop_requested = 1;
    EXPECT_EQ(answer("HTTP/1.0 200 OK\r\n\r\n<a href=\"b.html\">B</a>"), 0);
    EXPECT_EQ(slots_.slots[0].state, SlotState::Finishing);
    EXPECT_EQ(stored_urls(TreeFile::Links).size(), 1u);
}

TEST_F(ResponseTest, SinglePageModeSavesThePageInsteadOfFollowingARedirect) {
    run_.engine_mode = harvest::kModeSinglePage;
    ItemRecord& item = fetch("http://engine.example/search.html");
    EXPECT_EQ(answer("HTTP/1.0 302 Found\r\nLocation: /elsewhere.html\r\n\r\nmoved body"), 1);
    EXPECT_EQ(run_.engine_mode, harvest::kModeSinglePagePending);
    EXPECT_EQ(stored_urls(TreeFile::Links).size(), 1u);
    EXPECT_NE(item.status & store::STATUS_MOVED, 0);

    // Fetched again, the redirect answer itself is the document.
    run_.engine_mode = harvest::kModeSinglePage;
    EXPECT_EQ(answer("HTTP/1.0 302 Found\r\nLocation: /elsewhere.html\r\n\r\nmoved body"), 1);
    EXPECT_EQ(file("page.htm"), "moved body");
    EXPECT_EQ(status_line(), "Saved 'page.htm'");

    net_.folder = dir_.file("no-such-folder");
    EXPECT_EQ(answer("HTTP/1.0 200 OK\r\n\r\nbody"), 1);
    EXPECT_EQ(shell_.errors.back(), "Unable to write to page.htm");
}

TEST_F(ResponseTest, VendorFilesAndAnswersGoToTheVendor) {
    const std::string host = "http://" + std::string(kUpdateHost);
    ItemRecord& index = fetch(host + "/files/TARNV.IDX",
                              store::KIND_VENDOR | store::KIND_DOWNLOAD);
    EXPECT_EQ(answer("HTTP/1.0 200 OK\r\n\r\nVER=2\n"), 1);
    EXPECT_EQ(file("tarnv.idx"), "VER=2\n");
    EXPECT_EQ(vendor_.indexes, 1);
    EXPECT_EQ(run_.bad_links, 0);
    EXPECT_EQ(index.status & store::STATUS_BAD, 0);

    fetch(host + "/CGI-BIN/check?v=1", store::KIND_VENDOR);
    const std::string reply = "HTTP/1.0 200 OK\r\n\r\n#NEWS=1\n";
    EXPECT_EQ(answer(reply), 0);
    EXPECT_EQ(vendor_.answers, std::vector<std::string>{reply});
    EXPECT_EQ(slots_.slots[0].state, SlotState::Idle);

    // Any other name a download URL ends in chooses no file to write.
    std::ofstream(dir_.file("tarnv.ini")) << "keep";
    fetch(host + "/files/tarnv.ini", store::KIND_VENDOR | store::KIND_DOWNLOAD);
    (void)answer("HTTP/1.0 200 OK\r\n\r\nVER=3\n");
    EXPECT_EQ(file("tarnv.ini"), "keep");
    EXPECT_EQ(vendor_.indexes, 1);

    // A vendor answer never yields links, not even a redirect target.
    fetch(host + "/cgi-bin/check?v=2", store::KIND_VENDOR);
    EXPECT_EQ(answer("HTTP/1.0 302 Found\r\nLocation: http://x.example/a.html\r\n\r\n"), 1);
    EXPECT_EQ(stored_urls(TreeFile::Links).size(), 0u);
}

}  // namespace
}  // namespace tarnvelox::net
