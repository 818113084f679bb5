#include "harvest/found_item.h"

#include <gtest/gtest.h>

#include "harvest/harvest_fixture.h"

namespace tarnvelox::harvest {
namespace {

using store::KIND_ADDRESS;
using store::KIND_PAGE;
using store::TreeFile;

class FoundItemTest : public testing::HarvestFixture {
protected:
    // Runs the recogniser on every "@" of `text`, the way the scanner meets them.
    std::vector<std::string> addresses_in(std::string_view text) {
        for (std::size_t at = text.find('@'); at != std::string_view::npos;
             at = text.find('@', at)) {
            const std::size_t next = recognise_address_at(env_, 0, &page_, text, at);
            EXPECT_GT(next, at);
            at = next;
        }
        return stored_urls(TreeFile::Addresses);
    }
    int record_link(std::string url, std::optional<std::string> text = std::nullopt) {
        return record_found_item(env_, 0, &page_, std::move(url), std::move(text), KIND_PAGE, 0);
    }
    int record_address(std::string url) {
        return record_found_item(env_, 0, &page_, std::move(url), std::nullopt, KIND_ADDRESS, 0);
    }
};

TEST_F(FoundItemTest, RecognisesAddressesInRunningText) {
    struct Row {
        std::string_view text;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {"Write to John.Doe@Example.COM.", {"mailto:john.doe@example.com"}},
        {"a@x.com,b@y.org", {"mailto:a@x.com", "mailto:b@y.org"}},
        {"info@shop.example", {"mailto:info@shop.example"}},
        {"@example.com alone", {}},
        {"user@localhost", {}},
        {"first.last@ and more", {}},
        {"first.last@.", {}},
        {"url(img/logo@2x.png) and s@x.JS", {}},
        {"...lead@dots.example...", {"mailto:lead@dots.example"}},
        {"_x@y.example", {"mailto:x@y.example"}},
        {"@@@@a@b.example@@@", {"mailto:a@b.example"}},
        {"caf\xE9@bar.example", {}},  // the walk stops at a byte above 0x7F: "@" at the start
        {"~tilde-x_y@h.example", {"mailto:tilde-x_y@h.example"}},  // first character
        {" ~tilde-x_y@h.example", {"mailto:~tilde-x_y@h.example"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        store::close_store(store_);
        std::remove(store_.addresses_path.c_str());
        EXPECT_EQ(addresses_in(row.text), row.expected);
    }
}

TEST_F(FoundItemTest, AddressKeysAreLowerCaseAndStoredOnce) {
    EXPECT_EQ(record_address("mailto:Mixed.Case@Example.org"), 1);
    EXPECT_EQ(record_address("mailto:mixed.case@EXAMPLE.ORG"), 0);
    EXPECT_EQ(record_address("MAILTO:Someone@Example.com?subject=Hello"), 1);
    EXPECT_EQ(record_address("mailto: spaced@example.com"), 1);
    EXPECT_EQ(record_address("mailto:no-at-sign.example.com"), 0);
    const auto recs = stored(TreeFile::Addresses);
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(*recs[0]->url, "mailto:mixed.case@example.org");
    EXPECT_EQ(*recs[0]->title, "mixed.case@example.org");
    EXPECT_EQ(*recs[0]->source, *page_.url);
    EXPECT_EQ(recs[0]->kind, KIND_ADDRESS);
    EXPECT_EQ(*recs[1]->url, "mailto:someone@example.com");
    EXPECT_EQ(*recs[2]->url, "mailto:spaced@example.com");
    EXPECT_EQ(store_.total_addresses, 3);
    EXPECT_EQ(run_.addresses_found_on_page, 3);
    EXPECT_EQ(shell_.address_rows.size(), 3u);
    EXPECT_EQ(lists_.addresses.size(), 3);
}

TEST_F(FoundItemTest, PageLinksAreCutCheckedAndNormalised) {
    struct Row {
        std::string url;
        int result;
    };
    const std::string long_path = "http://www.example.com/" + std::string(256 - 23, 'p');
    const Row rows[] = {
        {"http://www.example.com/a.html#part", 1},
        {"http://www.example.com/a.html?q=1", 0},  // the same key once cut
        {"HTTP://www.example.com/b.html", 1},
        {"  http://www.example.com/c.html  ", 1},
        {long_path, 1},
        {long_path + "q", 0},
        {"http://intranet/file.html", 0},     // the only dot is in the file name
        {"http://www.example.com", 0},        // no "/" after the host
        {"www.example.com/page.html", 0},     // no "//"
        {"http://www.example.com/x/ http://www.example.com/y.html", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url);
        EXPECT_EQ(record_link(row.url), row.result);
    }
    EXPECT_EQ(stored_urls(TreeFile::Links),
              (std::vector<std::string>{"http://www.example.com/a.html",
                                        "http://www.example.com/b.html",
                                        "http://www.example.com/c.html", long_path,
                                        "http://www.example.com/x/www.example.com/y.html"}));
    EXPECT_EQ(store_.total_links, 5);
    EXPECT_EQ(shell_.link_rows.size(), 5u);
}

TEST_F(FoundItemTest, LinkTitlesAreCleanedAndDefaulted) {
    ASSERT_EQ(record_link("http://www.example.com/1.html", "  -- <b>Bold</b> &amp; more"), 1);
    ASSERT_EQ(record_link("http://www.example.com/2.html", std::string(80, 'x')), 1);
    ASSERT_EQ(record_link("http://www.example.com/3.html"), 1);
    ASSERT_EQ(record_link("http://www.example.com/4.html", "\"'.,"), 1);
    const auto recs = stored(TreeFile::Links);
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(*recs[0]->title, "Bold & more");
    EXPECT_EQ(*recs[1]->title, std::string(50, 'x'));
    EXPECT_EQ(*recs[2]->title, "No Title");
    EXPECT_EQ(*recs[3]->title, "No Title");
    EXPECT_EQ(recs[0]->kind, KIND_PAGE);
    EXPECT_EQ(*recs[0]->source, *page_.url);
}

TEST_F(FoundItemTest, RefusesWhatMustNeverBeRecorded) {
    run_.search_mode = kWebSearch;
    EXPECT_EQ(record_address("mailto:" + std::string(kSampleAddress)), 0);
    run_.search_mode = kHarvest;
    EXPECT_EQ(record_address("mailto:" + std::string(kSampleAddress)), 1);

    page_.kind |= store::KIND_VENDOR;
    EXPECT_EQ(record_link("http://www.example.com/v.html"), 0);
    page_.kind = KIND_PAGE;

    run_.stop_requested = 1;
    EXPECT_EQ(record_link("http://www.example.com/s.html"), 0);
    run_.stop_requested = 0;

    search_.crawl_scope = kScopeUrl;  // with this scope no page link is stored
    EXPECT_EQ(record_link("http://www.example.com/u.html"), 0);
    EXPECT_TRUE(stored_urls(TreeFile::Links).empty());
}

TEST_F(FoundItemTest, MaxlistZeroStoresAndCountsWithoutListing) {
    maxlist_ = 0;
    EXPECT_EQ(record_link("http://www.example.com/a.html"), 1);
    EXPECT_EQ(record_address("mailto:a@example.com"), 1);
    EXPECT_TRUE(lists_.links.empty());
    EXPECT_TRUE(lists_.addresses.empty());
    EXPECT_TRUE(shell_.link_rows.empty());
    EXPECT_TRUE(shell_.address_rows.empty());
    EXPECT_EQ(store_.total_links, 1);
    EXPECT_EQ(store_.total_addresses, 1);
}

TEST_F(FoundItemTest, ImportMergeModesDecideAboutExistingAddresses) {
    ASSERT_EQ(record_address("mailto:old@example.com"), 1);
    ASSERT_EQ(record_address("mailto:keep@example.com"), 1);
    run_.import_in_progress = true;

    run_.merge_mode = kDeleteDuplicates;
    EXPECT_EQ(record_address("mailto:OLD@example.com"), 0);
    EXPECT_EQ(record_address("mailto:new@example.com"), 0);
    EXPECT_EQ(stored_urls(TreeFile::Addresses),
              std::vector<std::string>{"mailto:keep@example.com"});
    EXPECT_EQ(store_.total_addresses, 1);

    run_.merge_mode = kAddUniqueDeleteDuplicates;
    EXPECT_EQ(record_address("mailto:keep@example.com"), 0);
    EXPECT_EQ(record_address("mailto:fresh@example.com"), 1);
    EXPECT_EQ(stored_urls(TreeFile::Addresses),
              std::vector<std::string>{"mailto:fresh@example.com"});

    run_.merge_mode = kAddUniqueSkipDuplicates;
    EXPECT_EQ(record_address("mailto:fresh@example.com"), 0);
    EXPECT_EQ(record_address("mailto:other@example.com"), 1);
    EXPECT_EQ(shell_.address_rows.size(), 2u);  // no rows are shown during an import
}

TEST_F(FoundItemTest, ImportListsOnlyUpToMaxlist) {
    maxlist_ = 3;
    run_.import_in_progress = true;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(record_link("http://www.example.com/" + std::to_string(i) + ".html"), 1);
    }
    EXPECT_EQ(lists_.links.size(), 4);  // rows 0 + found 0..3 are within 3
    EXPECT_TRUE(shell_.link_rows.empty());
    EXPECT_EQ(run_.links_found_on_page, 6);
}

}  // namespace
}  // namespace tarnvelox::harvest
