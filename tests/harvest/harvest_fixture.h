#pragma once

// A complete harvest environment on a fresh project in a temporary folder: a program context
// (store, lists, run state, search texts) over a recording shell.
// Tests adjust the fields they care about.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/context.h"
#include "fakes/recording_shell.h"
#include "harvest/harvest_env.h"
#include "store/temp_dir.h"

namespace tarnvelox::harvest::testing {

class HarvestFixture : public ::testing::Test {
protected:
    HarvestFixture() {
        store::set_project_path(store_, dir_.file("test.tvp"));
        page_.url = "http://www.example.com/dir/page.html";
        page_.kind = store::KIND_PAGE;
        search_.crawl_scope = kScopeNoLimit;
    }

    // Every live record of a link tree file, in stored order.
    std::vector<store::RecordPtr> stored(store::TreeFile which) {
        std::vector<store::RecordPtr> out;
        if (!store::open_store(store_)) return out;
        while (store::RecordPtr rec = store::read_next_link(store_, which)) {
            out.push_back(std::move(rec));
        }
        return out;
    }
    std::vector<std::string> stored_urls(store::TreeFile which) {
        std::vector<std::string> urls;
        for (const auto& rec : stored(which)) urls.push_back(*rec->url);
        return urls;
    }

    tarnvelox::testing::TempDir dir_;
    tarnvelox::testing::RecordingShell shell_;
    app::Context ctx_{shell_};
    store::Store& store_ = ctx_.store;
    store::ItemLists& lists_ = ctx_.lists;
    RunState& run_ = ctx_.run;
    SearchTexts& search_ = ctx_.search;
    int32_t& maxlist_ = ctx_.settings.maxlist;
    HarvestEnv& env_ = ctx_.harvest;
    store::ItemRecord page_;  // the page being scanned (what slot 0 holds)
};

}  // namespace tarnvelox::harvest::testing
