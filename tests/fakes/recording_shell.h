#pragma once

// A Shell that remembers what the core showed, for tests to inspect.

#include <string>
#include <utility>
#include <vector>

#include "platform/shell.h"
#include "store/item_record.h"

namespace tarnvelox::testing {

class RecordingShell : public platform::Shell {
public:
    void show_slot_status(int slot, std::string_view text) override {
        statuses.emplace_back(slot, std::string(text));
    }
    void report_error(std::string_view message) override { errors.emplace_back(message); }
    void refresh_status_counters() override { ++counter_refreshes; }
    void link_row_added(const store::ItemRecord& rec) override {
        link_rows.push_back(rec.url.value_or(""));
    }
    void link_row_changed(const store::ItemRecord& rec) override {
        changed_rows.push_back(rec.url.value_or(""));
    }
    void link_row_removed(int row) override {
        removed_rows.push_back(row);
        if (row >= 0 && row < static_cast<int>(link_rows.size())) {
            link_rows.erase(link_rows.begin() + row);
        }
    }
    void link_row_removing(int row) override { removing_rows.push_back(row); }
    void address_row_added(const store::ItemRecord& rec) override {
        address_rows.push_back(rec.url.value_or(""));
    }
    void address_row_removing(int row) override { removing_address_rows.push_back(row); }
    void address_row_removed(int row) override {
        removed_address_rows.push_back(row);
        if (row >= 0 && row < static_cast<int>(address_rows.size())) {
            address_rows.erase(address_rows.begin() + row);
        }
    }
    void views_cleared() override {
        ++views_cleared_count;
        link_rows.clear();
        address_rows.clear();
    }

    std::vector<std::pair<int, std::string>> statuses;
    std::vector<std::string> errors;
    int counter_refreshes = 0;
    std::vector<std::string> link_rows;     // url of each links view row, in order
    std::vector<std::string> changed_rows;  // url of each record whose row was redrawn
    std::vector<int> removing_rows;  // announced before the record went
    std::vector<int> removed_rows;
    std::vector<int> removing_address_rows;
    std::vector<int> removed_address_rows;
    int views_cleared_count = 0;
    std::vector<std::string> address_rows;  // url of each addresses view row
};

}  // namespace tarnvelox::testing
