#include "exchange/list_filter.h"
#include "harvest/wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnvelox::exchange {
namespace {

using harvest::kMaxWildcardRun;
using harvest::wildcard_match;

TEST(ListFilterTest, WildcardMatchesWholeTextTakingFirstOccurrences) {
    struct Row {
        std::string text, pattern;
        bool expected;
    };
    const std::string long_run(kMaxWildcardRun + 9, 'y');
    const Row rows[] = {
        {"WebMaster@x.com", "webmaster@*", true},
        {"joe@webmaster.com", "webmaster@*", false},
        {"abc", "ab?", true},
        {"ab", "ab?", false},
        {"", "*", true},
        {"abc", "", false},
        {"email", "mail", false},
        {"email", "*MAIL", true},
        // The first ".com" is taken; it does not end the text, and no later one is tried.
        {"x.com.au.com", "*.com", false},
        {"abcabd", "*ab?", false},
        // Runs longer than the design length are compared whole.
        {"x" + long_run + "z", "x*" + long_run + "z", true},
        {long_run.substr(1) + "z", "*" + long_run + "z", false},
        {std::string("ab\0cd", 5), "ab", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text + " ~ " + row.pattern);
        EXPECT_EQ(wildcard_match(row.text, row.pattern), row.expected);
    }
}

TEST(ListFilterTest, TextPassesOnlyEveryFilterThatIsSet) {
    struct Row {
        std::string text;
        ItemFilter filter;
        bool expected;
    };
    const Row rows[] = {
        {"joe@x.com", {}, true},
        {"joe@shop.com", {"au,nz,com", "", ""}, true},
        {"joe@shop.org", {"au,nz,com", "", ""}, false},
        {"http://www.x.NZ/path.com", {"au,nz,com", "", ""}, true},
        {"http://h.com:80/x.org", {"org", "", ""}, false},
        {"http://10.0.0.1/x", {"com", "", ""}, true},  // numeric hosts always pass
        {"http://localhost/x", {"com", "", ""}, false},
        {"joe@x.com", {"au, com", "", ""}, false},  // the blank is part of the entry
        {"joe@x.com", {"", "webmaster@*", ""}, false},
        {"joe@WebMaster.org", {"", "master", ""}, true},  // plain text: a substring anywhere
        {"joe@root.com", {"", "", "root@*"}, true},
        {"joe@root.com", {"", "", "ROOT"}, false},
        {"joe@x.org", {"com", "joe", ""}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(passes_text_filter(row.text, row.filter), row.expected);
    }
    store::ItemRecord rec;
    rec.title = "joe@x.com";
    rec.url = "mailto:joe@x.com";  // as a link, its host ends at the ":"
    EXPECT_TRUE(passes_item_filter(rec, ListKind::Addresses, ItemFilter{"com", "", ""}));
    EXPECT_FALSE(passes_item_filter(rec, ListKind::Links, ItemFilter{"com", "", ""}));
    EXPECT_FALSE(passes_item_filter(store::ItemRecord{}, ListKind::Links, ItemFilter{"", "x", ""}));
}

}  // namespace
}  // namespace tarnvelox::exchange
