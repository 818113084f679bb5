#include "app/preferences.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnvelox::app {
namespace {

// What OK stores for the texts typed into the number fields.
TEST(PreferencesTest, OkReadsTheNumberFieldsAndKeepsThemInRange) {
    struct Row {
        const char* connections;
        const char* timeout;
        const char* port;
        const char* maxlist;
        int32_t packcount, timeout_ms, port_number, maxlist_items;
    };
    const Row rows[] = {
        {"5", "4000", "8080", "2500", 5, 4000, 8080, 2500},
        {"0", "100000", "x", "0", 1, 64000, 0, 0},
        {"-5", "64001", "-3", "-1", 1, 64000, -3, -1},
        {"25", "0", "  3128 ", "12abc", 20, 0, 3128, 12},
        {"not a number", "30", "", "", 1, 1000, 0, 0},
        {" +20", "999", "99999999999", "7", 20, 1000, 2147483647, 7},
        {"1", "-200", "80", "1", 1, 1000, 80, 1},
        {"", "1000", "1", "2", 1, 1000, 1, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.connections) + " | " + row.timeout + " | " + row.port);
        Settings settings;
        Preferences prefs = preferences_of(settings);
        prefs.connections = row.connections;
        prefs.timeout = row.timeout;
        prefs.port = row.port;
        prefs.maxlist = row.maxlist;
        apply_preferences(prefs, settings);
        EXPECT_EQ(settings.packcount, row.packcount);
        EXPECT_EQ(settings.timeout, row.timeout_ms);
        EXPECT_EQ(settings.port, row.port_number);
        EXPECT_EQ(settings.maxlist, row.maxlist_items);
    }
}

TEST(PreferencesTest, OkKeepsOnlyTheTwoWindowBitsAndEmptyTextsAsSet) {
    Settings settings;
    settings.newwin = kDisplayMapBit | 4;  // a bit nothing uses
    Preferences prefs = preferences_of(settings);
    EXPECT_TRUE(prefs.display_map);
    prefs.new_window = true;
    apply_preferences(prefs, settings);
    EXPECT_EQ(settings.newwin, kNewWindowBit | kDisplayMapBit);
    // Empty texts become set, empty texts: written back as "browser=" and "proxy=".
    EXPECT_EQ(settings.browser, std::optional<std::string>(""));
    EXPECT_EQ(settings.proxy, std::optional<std::string>(""));
    EXPECT_EQ(preferences_of(settings), prefs);
}

}  // namespace
}  // namespace tarnvelox::app
