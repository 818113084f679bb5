#include "harvest/written_address.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace tarnvelox::harvest {
namespace {

TEST(WrittenAddressTest, SpelledOutFormsAreFoundAndProseIsNot) {
    const struct {
        std::string_view text;
        std::vector<std::string> expected;
    } rows[] = {
        {"jo [at] example [dot] org", {"jo@example.org"}},
        {"jo[AT]example[DOT]org", {"jo@example.org"}},
        {"Mail: jo.doe ( at ) mail.example.co ( dot ) uk.", {"jo.doe@mail.example.co.uk"}},
        {"ann(at)example.org, bo{at}ex{.}net", {"ann@example.org", "bo@ex.net"}},
        {"cy AT ex DOT org", {"cy@ex.org"}},
        {"cy AT mail.ex DOT org", {"cy@mail.ex.org"}},
        {"dee [@] ex.org", {"dee@ex.org"}},
        {"...jo [at] ex.org", {"jo@ex.org"}},
        // Prose and look-alikes.
        {"look at example dot com", {}},
        {"Tickets AT Example.com", {}},
        {"meet AT noon", {}},
        {"see [at] noon", {}},
        {"f(at)x", {}},
        {"jo [at] ex.c0m", {}},
        {"jo [at] ex.c", {}},
        {"[at] ex.org", {}},
        {"-x [at] ex.org", {}},
        {"a@b [at] ex.org", {}},
        {"jo [at ex.org", {}},
        {"jo at ex.org", {}},
        {"", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(written_addresses(row.text), row.expected);
    }
}

// Source code and shouted prose look like spelled-out forms; none of them is an address.
TEST(WrittenAddressTest, CodeAndCapitalProseAreNotAddresses) {
    const struct {
        std::string_view text;
        std::vector<std::string> expected;
    } rows[] = {
        {"text[at]\n  console.log(c)", {}},
        {"buf[at]\n self.pos", {}},
        {"items[at] name.first", {}},
        {"LOOK AT THE DOT MATRIX", {}},
        {"jo [at]\nex.org", {}},
        {"jo\n[at] ex.org", {}},
        {"cy AT ex\nDOT org", {}},
        {"m[at] = cfg.value(k)", {}},
        {"x = row [at] db.rows[0]", {}},
        {"fn(at) obj.call(1)", {}},
        // The forms people write still count, also at the end of a line.
        {"jo[at]ex.org (work)", {"jo@ex.org"}},
        {"Write to jo [at] ex.org\nor ann(at)ex.org.\n", {"jo@ex.org", "ann@ex.org"}},
        {"Jo AT Example DOT org", {"Jo@Example.org"}},
        {"jo\t[at]\tex.org", {"jo@ex.org"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(written_addresses(row.text), row.expected);
    }
}

}  // namespace
}  // namespace tarnvelox::harvest
