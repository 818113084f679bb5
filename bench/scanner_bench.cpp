// Page scanner throughput on about 10 MB of generated pages shaped like a real site: response
// headers, a title, navigation, running text, tables, 50-200 links per page and addresses in
// text and in mailto links. Three cases: every found item new (a fresh project each time), every
// item already stored (the steady state of a crawl), and the latter with a 20-entry keyword list.
// The modern reader reads the same pages in the first two cases, and pages written the way
// today's sites write them (attributes before the href, character references, addresses hidden
// in markup); its linear time on hostile pages is measured last.
// Run: build/bench/scanner_bench

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/context.h"
#include "harvest/crawl_scope.h"
#include "harvest/page_scanner.h"
#include "platform/shell.h"

namespace {

using namespace tarnvelox;

constexpr std::size_t kTargetBytes = 10 * 1024 * 1024;

const char* const kWords[] = {
    "the",     "catalogue", "shipping", "orders",  "customer", "service", "garden", "tools",
    "quality", "delivery",  "weekend",  "prices",  "contact",  "support", "about",  "history",
    "family",  "business",  "local",    "friendly", "opening", "hours",   "summer", "winter"};

// Running text: a vocabulary of 3,000 invented words of 2 to 10 letters, with the common words
// above making up a fifth of the text, as in real prose where any one keyword is rare.
class Vocabulary {
public:
    explicit Vocabulary(std::mt19937& rng) {
        for (int i = 0; i < 3000; ++i) {
            std::string word;
            const int length = 2 + static_cast<int>(rng() % 9);
            for (int k = 0; k < length; ++k) word += static_cast<char>('a' + rng() % 26);
            words_.push_back(std::move(word));
        }
    }
    const std::string& pick(std::mt19937& rng) const {
        static const std::vector<std::string> common(std::begin(kWords), std::end(kWords));
        return rng() % 5 == 0 ? common[rng() % common.size()] : words_[rng() % words_.size()];
    }

private:
    std::vector<std::string> words_;
};

struct Site {
    std::vector<std::string> pages;
    std::vector<std::string> urls;
    std::size_t bytes = 0;
};

// `unique` gives every page its own links and addresses; otherwise most links are the site's
// shared navigation and catalogue, as on a real crawl. `today` writes links and addresses as
// today's sites do; the pages are otherwise the same.
Site make_site(bool unique, bool today = false) {
    std::mt19937 rng(1234);
    const Vocabulary vocabulary(rng);
    Site site;
    int page_no = 0;
    while (site.bytes < kTargetBytes) {
        const std::string prefix = unique ? "p" + std::to_string(page_no) + "-" : "";
        std::string p =
            "HTTP/1.0 200 OK\r\nServer: test\r\nContent-Type: text/html\r\n"
            "Content-Length: 20000\r\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n\r\n"
            "<html><head><title>Example shop - page " +
            std::to_string(page_no) +
            "</title>\n<meta name=\"description\" content=\"A shop\">\n"
            "<link rel=\"stylesheet\" href=\"/css/site.css\"></head>\n<body bgcolor=\"#ffffff\">\n";
        for (int n = 0; n < 12; ++n) {
            p += today ? "<a class=\"reference internal\" href=\"/nav/" : "<a href=\"/nav/";
            p += prefix + "section" + std::to_string(n) + ".html" + (today ? "#top" : "") +
                 "\">Section " + std::to_string(n) + (today ? " &amp; more" : "") + "</a> | ";
        }
        const int links = 50 + static_cast<int>(rng() % 150);
        p += "\n<table border=0 cellpadding=2>\n";
        for (int i = 0; i < links; ++i) {
            const int item = static_cast<int>(rng() % 400);
            if (i % 7 == 0) p += "<tr>";
            p += today ? "<td><a title='item' href='items/" : "<td><a href=\"items/";
            p += prefix + "item" + std::to_string(item) + ".html" + (today ? "'" : "\"") +
                 "><b>Item " + std::to_string(item) + "</b></a> &nbsp; ";
            for (int w = 0; w < 6; ++w) {
                p += vocabulary.pick(rng);
                p += ' ';
            }
            p += "</td>";
            if (i % 7 == 6) p += "</tr>\n";
            if (i % 10 == 0 && today) {
                p += "<p>Write to <a class=m href=\"mailto:" + prefix + "sales" +
                     std::to_string(rng() % 20) + "&#37;40example&#46;com\">our sales team</a> or " +
                     prefix + "info" + std::to_string(rng() % 20) +
                     "<span>&#64;</span>example<span>&#46;</span>com for help.</p>\n";
            } else if (i % 10 == 0) {
                p += "<p>Write to <a href=\"mailto:" + prefix + "sales" +
                     std::to_string(rng() % 20) + "@example.com\">our sales team</a> or " +
                     prefix + "info" + std::to_string(rng() % 20) +
                     "@example.com for help.</p>\n";
            }
        }
        p += "</table>\n";
        for (int para = 0; para < 8; ++para) {
            p += "<p>";
            for (int w = 0; w < 60; ++w) {
                p += vocabulary.pick(rng);
                p += (w % 13 == 12) ? ".\n" : " ";
            }
            p += "</p>\n";
        }
        p += "</body></html>\n";
        site.urls.push_back("http://www.example.com/shop/page" + std::to_string(page_no) +
                            ".html");
        site.bytes += p.size();
        site.pages.push_back(std::move(p));
        ++page_no;
    }
    return site;
}

struct Harvest {
    explicit Harvest(bool with_keywords, bool modern = false) {
        run.modern_reader = modern;
        char pattern[] = "/tmp/tarnv-bench-XXXXXX";
        folder = ::mkdtemp(pattern);
        store::set_project_path(store, folder + "/bench.tvp");
        search.crawl_scope = harvest::kScopeNoLimit;
        if (with_keywords) {
            // One list of 20 entries: alternatives, wildcards, a required and an excluded word.
            search.crawl_keywords =
                "shop OR catalogue OR garden* OR tool? OR quality OR delivery OR weekend OR "
                "price* OR contact OR support OR summer OR win*er OR famil* OR business OR "
                "local OR friendly OR opening OR hours AND sales NOT spam";
        }
        harvest::parse_keyword_list(search.crawl_list, search.crawl_keywords);
        harvest::parse_keyword_list(search.extract_list, search.extract_keywords);
    }
    ~Harvest() {
        store::close_store(store);
        std::filesystem::remove_all(folder);
    }
    void reset() {
        store::close_store(store);
        std::filesystem::remove(store.links_path);
        std::filesystem::remove(store.addresses_path);
        lists.links.clear();
        lists.addresses.clear();
    }
    void scan(const Site& site) {
        for (std::size_t i = 0; i < site.pages.size(); ++i) {
            page.url = site.urls[i];
            page.kind = store::KIND_PAGE;
            harvest::scan_page(env, 0, &page, site.pages[i]);
        }
    }
    std::string folder;
    platform::NullShell shell;
    app::Context ctx{shell};
    store::Store& store = ctx.store;
    store::ItemLists& lists = ctx.lists;
    harvest::RunState& run = ctx.run;
    harvest::SearchTexts& search = ctx.search;
    harvest::HarvestEnv& env = ctx.harvest;
    store::ItemRecord page;
};

void BM_ScanEveryItemNew(benchmark::State& state) {
    const Site site = make_site(true);
    Harvest h(false);
    for (auto _ : state) {
        state.PauseTiming();
        h.reset();
        state.ResumeTiming();
        h.scan(site);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * site.bytes));
    state.counters["links"] = h.store.links.live_count();
    state.counters["addresses"] = h.store.addresses.live_count();
}
BENCHMARK(BM_ScanEveryItemNew)->Unit(benchmark::kMillisecond)->MinTime(3);

void BM_ScanItemsAlreadyStored(benchmark::State& state) {
    const Site site = make_site(false);
    Harvest h(state.range(0) != 0);
    h.scan(site);  // store everything once
    for (auto _ : state) h.scan(site);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * site.bytes));
    state.counters["links"] = h.store.links.live_count();
    state.counters["addresses"] = h.store.addresses.live_count();
}
BENCHMARK(BM_ScanItemsAlreadyStored)->Arg(0)->Arg(1)->ArgName("keywords")
    ->Unit(benchmark::kMillisecond)->MinTime(3);

void BM_ModernReaderEveryItemNew(benchmark::State& state) {
    const Site site = make_site(true, state.range(0) != 0);
    Harvest h(false, true);
    for (auto _ : state) {
        state.PauseTiming();
        h.reset();
        state.ResumeTiming();
        h.scan(site);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * site.bytes));
    state.counters["links"] = h.store.links.live_count();
    state.counters["addresses"] = h.store.addresses.live_count();
}
BENCHMARK(BM_ModernReaderEveryItemNew)->Arg(0)->Arg(1)->ArgName("today")
    ->Unit(benchmark::kMillisecond)->MinTime(3);

void BM_ModernReaderItemsAlreadyStored(benchmark::State& state) {
    const Site site = make_site(false, state.range(0) != 0);
    Harvest h(false, true);
    h.scan(site);
    for (auto _ : state) h.scan(site);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * site.bytes));
    state.counters["links"] = h.store.links.live_count();
    state.counters["addresses"] = h.store.addresses.live_count();
}
BENCHMARK(BM_ModernReaderItemsAlreadyStored)->Arg(0)->Arg(1)->ArgName("today")
    ->Unit(benchmark::kMillisecond)->MinTime(3);

// Hostile pages of one megabyte, each one shape repeated: a reader that searched ahead from
// every tag, quote or reference would take quadratic time here.
const char* const kHostileShapes[] = {
    "<", "&", "@", "\"", "'", "<a href=\"", "<a href=x>", "<a href=x>text", "<a x='>",
    "<!--", "<script>", "<title>", "&#", "&#x1;", "&amp", "a.b@", "x [at] y.", "(at)",
    " AT a DOT", "<span>@</span>", "<a href=\"mailto:%", "<meta charset=",
};

void BM_ModernReaderHostilePage(benchmark::State& state) {
    const std::string shape = kHostileShapes[state.range(0)];
    std::string page;
    while (page.size() < (1u << 20)) page += shape;
    Harvest h(false, true);
    for (auto _ : state) {
        state.PauseTiming();
        h.reset();
        state.ResumeTiming();
        h.page.url = "http://www.example.com/shop/hostile.html";
        harvest::scan_page(h.env, 0, &h.page, page);
    }
    state.SetLabel(shape);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ModernReaderHostilePage)->DenseRange(0, std::size(kHostileShapes) - 1)
    ->Unit(benchmark::kMillisecond);

// The keyword test alone over the same pages, for comparison with the scans above.
void BM_KeywordTestAlone(benchmark::State& state) {
    const Site site = make_site(false);
    Harvest h(true);
    int matched = 0;
    for (auto _ : state) {
        for (const std::string& page : site.pages) {
            matched += harvest::page_matches_keywords(h.search.crawl_list, page) ? 1 : 0;
        }
    }
    benchmark::DoNotOptimize(matched);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * site.bytes));
}
BENCHMARK(BM_KeywordTestAlone)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
