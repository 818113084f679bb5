#include "store/item_record.h"

#include <gtest/gtest.h>

namespace tarnvelox::store {
namespace {

std::string blanks(std::size_t n) { return std::string(n, ' '); }

TEST(ItemRecordTest, StartingLinkFormatsByteExact) {
    ItemRecord rec;
    rec.url = "http://www.example.com/";
    rec.title = "Starting URL";
    rec.kind = KIND_PAGE;
    rec.source = std::string(kNoSource);
    EXPECT_EQ(format_record_line(rec), "http://www.example.com/<1>Starting URL" + blanks(38) +
                                           "<2>   64<3>    0<4>******<5>" + blanks(10) +
                                           "<6><7>" + blanks(30) + "\n");
}

TEST(ItemRecordTest, AllTextsAbsentFormatWithDefaults) {
    ItemRecord rec;
    EXPECT_EQ(format_record_line(rec), "<1>" + blanks(50) + "<2>    0<3>    0<4>******<5>" +
                                           blanks(10) + "<6><7>" + blanks(30) + "\n");
    // An empty source is not an absent one.
    rec.source = "";
    EXPECT_NE(format_record_line(rec).find("<4><5>"), std::string::npos);
}

TEST(ItemRecordTest, FixedWidthFieldsAreCutOrPaddedAndNumbersWiden) {
    ItemRecord rec;
    rec.url = "u";
    rec.title = std::string(60, 't');
    rec.size = "12345678901234";
    rec.modified = std::string(40, 'm');
    rec.http_status = "404";
    rec.kind = 1234567;
    rec.status = -3;
    const std::string line = format_record_line(rec);
    EXPECT_EQ(line, "u<1>" + std::string(50, 't') + "<2>1234567<3>   -3<4>******<5>1234567890<6>404<7>" +
                        std::string(30, 'm') + "\n");
}

TEST(ItemRecordTest, TextsEndAtTheirFirstNul) {
    ItemRecord rec;
    rec.url = std::string("http://a/\0hidden", 16);
    rec.title = std::string("T\0x", 3);
    const std::string line = format_record_line(rec);
    EXPECT_EQ(line.substr(0, 13), "http://a/<1>T");
    EXPECT_EQ(line.find('\0'), std::string::npos);
}

TEST(ItemRecordTest, OverlongLineIsCutAtTheBufferSize) {
    ItemRecord rec;
    rec.url = std::string(3000, 'k');
    const std::string line = format_record_line(rec);
    EXPECT_EQ(line.size(), kMaxRecordLine);
    EXPECT_EQ(parse_record_line(line), nullptr);
}

TEST(ItemRecordTest, ParseInvertsFormat) {
    ItemRecord rec;
    rec.url = "http://x.org/a b";
    rec.title = "Short";
    rec.source = "http://x.org/";
    rec.size = "1234";
    rec.modified = "Tue, 01 Dec 2026 10:00:00 GMT";
    rec.http_status = "404";
    rec.kind = KIND_PAGE;
    rec.status = STATUS_VISITED | STATUS_BAD | STATUS_NOT_FOUND;
    RecordPtr back = parse_record_line(format_record_line(rec));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(*back->url, *rec.url);
    EXPECT_EQ(*back->title, "Short");  // the 45 padding blanks are trimmed
    EXPECT_EQ(*back->source, *rec.source);
    EXPECT_EQ(*back->size, "1234      ");  // size keeps its padding
    EXPECT_EQ(*back->http_status, "404");
    EXPECT_EQ(*back->modified, *rec.modified);
    EXPECT_EQ(back->kind, rec.kind);
    EXPECT_EQ(back->status, rec.status);
    EXPECT_EQ(back->file_offset, 0);
    EXPECT_EQ(back->next, nullptr);
}

TEST(ItemRecordTest, ParseGivesPresentTextsForAbsentOnes) {
    ItemRecord rec;
    rec.url = "mailto:a@b.c";
    rec.title = "a@b.c";
    rec.kind = KIND_ADDRESS;
    RecordPtr back = parse_record_line(format_record_line(rec));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->source, std::optional<std::string>("******"));
    EXPECT_EQ(back->http_status, std::optional<std::string>(""));
    EXPECT_EQ(back->modified, std::optional<std::string>(""));
    EXPECT_EQ(back->size, std::optional<std::string>(blanks(10)));
}

TEST(ItemRecordTest, ParseSearchesLaterMarkersFromTheFourth) {
    // "<5>" after "<6>": still a record, each text cut at the next marker found.
    RecordPtr rec = parse_record_line("u<1>t<2>1<3>2<4>src<6>404<5>99<7>date\n");
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(*rec->source, "src");
    EXPECT_EQ(*rec->http_status, "404");
    EXPECT_EQ(*rec->size, "99");
    EXPECT_EQ(*rec->modified, "date");

    // Markers are exact and case-sensitive; a missing one gives no record.
    EXPECT_EQ(parse_record_line("u<1>t<2>1<3>2<4>s<5>z<6>"), nullptr);  // cut short
    EXPECT_EQ(parse_record_line("u<2>t<1>1<3>2<4>s<5>z<6><7>"), nullptr);
    EXPECT_EQ(parse_record_line(""), nullptr);
    EXPECT_EQ(parse_record_line(std::string("u<1>t<2>1<3>2\0<4>s<5>z<6><7>", 28)), nullptr);
}

TEST(ItemRecordTest, KindWithTheHighBitSurvivesTheLine) {
    ItemRecord rec;
    rec.url = "u";
    rec.kind = 0x80000040u;
    const std::string line = format_record_line(rec);
    EXPECT_NE(line.find("<2>-2147483584<3>"), std::string::npos);
    RecordPtr back = parse_record_line(line);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->kind, 0x80000040u);
}

TEST(ItemRecordTest, ParseReadsNumbersLeniently) {
    RecordPtr rec = parse_record_line("u<1><2>  12ab<3>99999999999999<4><5><6><7>");
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->kind, 12u);
    EXPECT_EQ(rec->status, INT32_MAX);
    EXPECT_EQ(*rec->title, "");
}

TEST(ItemRecordTest, CopyDuplicatesTextsAndDetachesTheChain) {
    RecordPtr src = clear_record();
    src->url = "http://a/";
    src->title = "A";
    src->kind = KIND_PAGE;
    src->status = STATUS_VISITED;
    src->file_offset = 77;
    src->selected = 1;
    src->engine_id = 9;
    src->next = clear_record();

    RecordPtr dest = clear_record();
    dest->size = "old";
    copy_record(*dest, *src);
    EXPECT_EQ(dest->url, src->url);
    EXPECT_EQ(dest->title, src->title);
    EXPECT_FALSE(dest->size.has_value());
    EXPECT_EQ(dest->file_offset, 77);
    EXPECT_EQ(dest->engine_id, 9u);
    EXPECT_EQ(dest->next, nullptr);
    src->url->assign("changed");
    EXPECT_EQ(*dest->url, "http://a/");

    copy_record(*dest, *dest);  // copying into itself keeps it intact
    EXPECT_EQ(*dest->url, "http://a/");

    clear_record(*src);
    EXPECT_FALSE(src->url.has_value());
    EXPECT_EQ(src->next, nullptr);
    EXPECT_EQ(src->file_offset, 0);
}

TEST(ItemRecordTest, LongChainFreesWithoutDeepRecursion) {
    RecordPtr head = clear_record();
    ItemRecord* tail = head.get();
    for (int i = 0; i < 1'000'000; ++i) {
        tail->next = clear_record();
        tail = tail->next.get();
    }
    free_record_chain(std::move(head));  // a recursive destructor would overflow the stack
    SUCCEED();
}

}  // namespace
}  // namespace tarnvelox::store
