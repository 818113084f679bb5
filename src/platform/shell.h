#pragma once

// Shell: everything the core shows to the person goes through this interface. The desktop
// program implements it with widgets, the headless harvester with console output, tests with a
// recorder. Calls arrive on the one program thread; a record passed by reference is borrowed for
// the duration of the call only (the lists own it).

#include <string_view>

namespace tarnvelox::store {
struct ItemRecord;
}

namespace tarnvelox::platform {

class Shell {
public:
    virtual ~Shell() = default;

    // Shows `text` on connection slot `slot`'s status line (0..19), or on every line for -1.
    virtual void show_slot_status(int slot, std::string_view text) = 0;
    // An error box with the caption "Error" and an OK button over the main window.
    virtual void report_error(std::string_view message) = 0;
    // The visited/pending/bad/address counters changed and should be shown again.
    virtual void refresh_status_counters() = 0;

    // The links view: a row was appended for `rec` (already the last record of the list); the
    // row of `rec` (a record of the links list) must be redrawn because its title or status
    // changed; row `row` is about to be removed (its record is still in the list and alive);
    // row `row` was removed (its record is freed, the rows after it moved up).
    virtual void link_row_added(const store::ItemRecord& rec) = 0;
    virtual void link_row_changed(const store::ItemRecord& rec) = 0;
    virtual void link_row_removing(int row) = 0;
    virtual void link_row_removed(int row) = 0;
    // The addresses view: the same, without changes (an address row never changes).
    virtual void address_row_added(const store::ItemRecord& rec) = 0;
    virtual void address_row_removing(int row) = 0;
    virtual void address_row_removed(int row) = 0;
    // Both views are about to lose every row: the lists are about to be emptied or rebuilt.
    // Rows come back through the *_row_added calls.
    virtual void views_cleared() = 0;
};

// A Shell that shows nothing; the base for front ends and tests that need only some calls.
class NullShell : public Shell {
public:
    void show_slot_status(int, std::string_view) override {}
    void report_error(std::string_view) override {}
    void refresh_status_counters() override {}
    void link_row_added(const store::ItemRecord&) override {}
    void link_row_changed(const store::ItemRecord&) override {}
    void link_row_removing(int) override {}
    void link_row_removed(int) override {}
    void address_row_added(const store::ItemRecord&) override {}
    void address_row_removing(int) override {}
    void address_row_removed(int) override {}
    void views_cleared() override {}
};

}  // namespace tarnvelox::platform
