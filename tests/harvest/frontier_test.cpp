#include "harvest/frontier.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "base/text_util.h"
#include "harvest/harvest_fixture.h"
#include "harvest/list_rows.h"

namespace tarnvelox::harvest {
namespace {

using store::ItemRecord;
using store::TreeFile;

// The node-by-node walk, exactly as first defined, to compare the indexed frontier with.
int literal_next_link(HarvestEnv& env, FrontierState& state, SlotItem& slot_item) {
    if (env.run.stop_requested != 0 || env.run.harvest_running == 0) return 0;
    if (!env.store.links.is_open() && !store::open_store(env.store)) return 0;
    auto same_host = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() && base::find_nocase(a, b) == 0;
    };
    for (;;) {
        store::RecordPtr rec = store::read_next_link(env.store, TreeFile::Links);
        if (!rec) {
            if (state.postponed_position == 0) return 0;
            if (state.postponed_position == kSecondPass) {
                state.postponed_position = 0;
                return 0;
            }
            env.store.read_position = state.postponed_position;
            state.postponed_position = kSecondPass;
            continue;
        }
        if ((rec->status & store::STATUS_VISITED) != 0) continue;
        const std::string_view host = store::link_host(*rec->url);
        if (state.postponed_position != kSecondPass) {
            if (state.last_host && same_host(host, *state.last_host)) {
                if (state.postponed_position == 0) {
                    state.postponed_position = env.store.last_read_offset;
                }
                continue;
            }
            state.last_host = std::string(host);
        } else {
            state.postponed_position = 0;
        }
        ItemRecord* previous = slot_item.item;
        ItemRecord* taken = rec.get();
        store::RecordPtr owned;
        if (env.maxlist != 0) {
            ItemRecord* listed = env.lists.links.find_by_offset(rec->file_offset);
            if (listed != nullptr) {
                if ((listed->status & store::STATUS_VISITED) != 0) continue;
                taken = listed;
                rec.reset();
            }
            if (previous != nullptr) {
                if (env.lists.links.contains(*previous)) env.shell.link_row_changed(*previous);
            }
            taken->status |= store::STATUS_ACTIVE;
            if (listed == nullptr) {
                taken = &env.lists.links.append(std::move(rec));
                harvest::add_link_row(env.lists.links, env.shell, env.maxlist, *taken);
            }
        } else {
            owned = std::move(rec);
        }
        if (previous != nullptr) {
            previous->status &= ~store::STATUS_ACTIVE;
            env.lists.links.status_changed();
        }
        slot_item.owned = std::move(owned);
        slot_item.item = taken;
        taken->status |= store::STATUS_VISITED;
        ++env.run.visited_links;
        return 1;
    }
}

class FrontierTest : public testing::HarvestFixture {
protected:
    FrontierTest() { run_.harvest_running = 1; }

    int32_t add(const std::string& url, int32_t status = 0) {
        EXPECT_TRUE(store::open_store(store_));
        ItemRecord rec;
        rec.url = url;
        rec.title = "T";
        rec.kind = store::KIND_PAGE;
        rec.status = status;
        return store::tree_insert(store_, TreeFile::Links, rec);
    }
    // Hands out links to one slot until there are none; the urls in order.
    std::vector<std::string> drain(SlotItem& slot, int limit = 1000) {
        std::vector<std::string> urls;
        while (limit-- > 0 && next_link_for_slot(env_, state_, 0, slot, nullptr) == 1) {
            urls.push_back(*slot.item->url);
        }
        return urls;
    }
    FrontierState state_;
};

TEST_F(FrontierTest, OneHostIsHandedOutInFileOrderThroughTheSecondPass) {
    for (int i = 0; i < 5; ++i) add("http://a.example/" + std::to_string(i) + ".html");
    SlotItem slot;
    EXPECT_EQ(drain(slot), (std::vector<std::string>{
                               "http://a.example/0.html", "http://a.example/1.html",
                               "http://a.example/2.html", "http://a.example/3.html",
                               "http://a.example/4.html"}));
    EXPECT_EQ(run_.visited_links, 5);
    EXPECT_EQ(state_.postponed_position, 0);  // the last second pass found nothing: idle
    EXPECT_EQ(next_link_for_slot(env_, state_, 0, slot, nullptr), 0);
}

TEST_F(FrontierTest, AlternatingHostsAreNeverPutOff) {
    add("http://a.example/1.html");
    add("http://B.example/1.html");
    add("http://a.example/2.html");
    add("http://b.EXAMPLE/2.html");
    add("http://a.example/3.html");
    add("http://a.example/4.html");  // same host twice in a row: put off once
    add("http://c.example/1.html");
    SlotItem slot;
    EXPECT_EQ(drain(slot), (std::vector<std::string>{
                               "http://a.example/1.html", "http://B.example/1.html",
                               "http://a.example/2.html", "http://b.EXAMPLE/2.html",
                               "http://a.example/3.html", "http://c.example/1.html",
                               "http://a.example/4.html"}));
}

TEST_F(FrontierTest, VisitedDeletedAndFinishedLinksAreNotOfferedAgain) {
    add("http://a.example/done.html", store::STATUS_VISITED);
    const int32_t gone = add("http://b.example/gone.html");
    add("http://c.example/open.html");
    ASSERT_EQ(store::tree_delete(store_, TreeFile::Links, gone), 1);
    SlotItem slot;
    ASSERT_EQ(next_link_for_slot(env_, state_, 0, slot, nullptr), 1);
    EXPECT_EQ(*slot.item->url, "http://c.example/open.html");
    EXPECT_NE(slot.item->status & store::STATUS_ACTIVE, 0);
    // Its fetch ends: the line is rewritten with the mark; a new run never offers it again,
    // even after the in-memory status was reset.
    ASSERT_EQ(store::rewrite_line(store_, *slot.item), 1);
    slot.item->status = 0;
    ASSERT_TRUE(store::open_store(store_));
    reset_frontier(state_);
    SlotItem next;
    EXPECT_EQ(next_link_for_slot(env_, state_, 0, next, nullptr), 0);
}

TEST_F(FrontierTest, MaxlistZeroGivesTheSlotItsOwnRecord) {
    maxlist_ = 0;
    add("http://a.example/1.html");
    add("http://b.example/1.html");
    SlotItem slot;
    ASSERT_EQ(next_link_for_slot(env_, state_, 0, slot, nullptr), 1);
    EXPECT_EQ(slot.owned.get(), slot.item);
    EXPECT_EQ(slot.item->status, store::STATUS_VISITED);  // no ACTIVE without a list
    EXPECT_TRUE(lists_.links.empty());
    ASSERT_EQ(next_link_for_slot(env_, state_, 0, slot, nullptr), 1);
    EXPECT_EQ(*slot.item->url, "http://b.example/1.html");
}

TEST_F(FrontierTest, NothingIsHandedOutWhenStoppedOrHeldBack) {
    add("http://a.example/1.html");
    SlotItem slot;
    run_.stop_requested = 1;
    EXPECT_EQ(next_link_for_slot(env_, state_, 0, slot, nullptr), 0);
    run_.stop_requested = 0;
    struct Hold : SpecialRequests {
        Result serve(int, SlotItem&) override { return Result::HoldBack; }
    } hold;
    EXPECT_EQ(next_link_for_slot(env_, state_, 0, slot, &hold), 0);
    EXPECT_EQ(slot.item, nullptr);
}

// Random links files (hosts, visited marks, deleted nodes, links added between calls, finished
// fetches, Cancel and restart): the indexed frontier hands out exactly what the node-by-node
// walk hands out, in the same order, with the same state.
TEST(FrontierDifferentialTest, MatchesTheNodeByNodeWalk) {
    for (unsigned seed = 1; seed <= 30; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        tarnvelox::testing::TempDir dir;
        struct World {
            platform::NullShell shell;
            app::Context ctx{shell};
            store::Store& store = ctx.store;
            store::ItemLists& lists = ctx.lists;
            RunState& run = ctx.run;
            int32_t& maxlist = ctx.settings.maxlist;
            HarvestEnv& env = ctx.harvest;
            FrontierState& state = ctx.frontier;
            std::vector<SlotItem> slots = std::vector<SlotItem>(3);
        };
        World fast, literal;
        const int32_t maxlist = seed % 3 == 0 ? 0 : (seed % 3 == 1 ? 2500 : 4);
        for (World* w : {&fast, &literal}) {
            w->maxlist = maxlist;
            w->run.harvest_running = 1;
            store::set_project_path(w->store, dir.file(w == &fast ? "f.tvp" : "l.tvp"));
            ASSERT_TRUE(store::open_store(w->store));
        }
        const int hosts = 1 + static_cast<int>(rng() % 4);
        int next_page = 0;
        auto add_links = [&](int count) {
            for (int i = 0; i < count; ++i) {
                ItemRecord rec;
                // Hosts are compared without regard to case: spell them both ways.
                rec.url = std::string(rng() % 2 ? "http://h" : "http://H") +
                          std::to_string(rng() % hosts) + (rng() % 3 ? ".example" : ".EXAMPLE") +
                          "/p" + std::to_string(next_page++) + ".html";
                rec.title = "T";
                rec.kind = store::KIND_PAGE;
                rec.status = rng() % 6 == 0 ? store::STATUS_VISITED : 0;
                const bool drop = rng() % 8 == 0;
                for (World* w : {&fast, &literal}) {
                    const int32_t at = store::tree_insert(w->store, TreeFile::Links, rec);
                    ASSERT_GE(at, 0);
                    if (drop) {
                        ASSERT_EQ(store::tree_delete(w->store, TreeFile::Links, at), 1);
                    }
                }
            }
        };
        add_links(30);
        for (int step = 0; step < 400; ++step) {
            const int op = static_cast<int>(rng() % 10);
            const std::size_t s = rng() % 3;
            if (op < 6) {
                const int a = next_link_for_slot(fast.env, fast.state, 0, fast.slots[s], nullptr);
                const int b = literal_next_link(literal.env, literal.state, literal.slots[s]);
                ASSERT_EQ(a, b) << "step " << step;
                if (a == 1) {
                    ASSERT_EQ(fast.slots[s].item->file_offset,
                              literal.slots[s].item->file_offset) << "step " << step;
                }
                ASSERT_EQ(fast.state.postponed_position, literal.state.postponed_position);
                ASSERT_EQ(fast.state.last_host, literal.state.last_host);
                ASSERT_EQ(fast.store.read_position, literal.store.read_position);
                ASSERT_EQ(fast.run.visited_links, literal.run.visited_links);
            } else if (op < 8) {
                // The slot's fetch ends: its line is rewritten with the visited mark.
                for (World* w : {&fast, &literal}) {
                    if (w->slots[s].item != nullptr) {
                        ASSERT_EQ(store::rewrite_line(w->store, *w->slots[s].item), 1);
                    }
                }
            } else if (op < 9) {
                add_links(1 + static_cast<int>(rng() % 4));
            } else {
                // Cancel and Start again: the slots let go of their links, which lose their
                // marks and are offered again; the walk restarts.
                for (World* w : {&fast, &literal}) {
                    for (SlotItem& slot : w->slots) {
                        if (slot.item != nullptr) {
                            slot.item->status &= ~(store::STATUS_VISITED | store::STATUS_ACTIVE);
                        }
                        slot = SlotItem();
                    }
                    ASSERT_TRUE(store::open_store(w->store));
                    reset_frontier(w->state);
                }
            }
        }
    }
}

}  // namespace
}  // namespace tarnvelox::harvest
