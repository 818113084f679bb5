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

}  // namespace
}  // namespace tarnvelox::harvest
