#include "app/run_control.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/context.h"
#include "app/verify.h"
#include "browser/browser.h"
#include "harvest/crawl_scope.h"
#include "harvest/list_rows.h"
#include "search/query_seeding.h"
#include "store/item_list.h"
#include "store/store.h"

namespace tarnvelox::app {

namespace {

// The harvest tick posted at Start, so the slots begin at once instead of after one period.
// Outside the engine's own command range (net::kDriveSlotCommand + slot).
constexpr int kPostedTickCommand = net::kDriveSlotCommand - 1;

constexpr int32_t kDefaultTimeout = 4000;
constexpr int32_t kMaxTimeout = 64000;

// Why the starting link `rec` could not be stored in the links file.
std::string starting_url_refused(const store::ItemRecord& rec, const store::Store& st) {
    std::string why;
    const std::string line = store::format_record_line(rec);
    if (!st.links.is_open()) {
        why = "the links file '" + st.links_path + "' is not open";
    } else if (rec.url->find("<1>") != std::string::npos) {
        why = "it holds the text \"<1>\", which links may not";
    } else if (line.compare(0, rec.url->size(), *rec.url) != 0 ||
               line.size() >= store::kMaxRecordLine) {
        why = "it is longer than a stored link may be (" +
              std::to_string(store::kMaxRecordLine) + " characters with its title and source)";
    } else {
        why = "the links file '" + st.links_path + "' takes no new links";
    }
    return "The starting URL cannot be stored, so it is not fetched: " + why + ".";
}

int64_t visited_in_file(const store::Store& st) {
    return static_cast<int64_t>(st.links.live_count()) -
           static_cast<int64_t>(st.links.pending_count());
}

int32_t harvest_period(int32_t timeout) {
    if (timeout <= 0) return kDefaultTimeout;
    return std::min(timeout, kMaxTimeout);
}

net::RequestOptions request_options(const Settings& settings) {
    net::RequestOptions options;
    options.proxy = settings.proxy.value_or("");
    options.port = settings.port;
    options.cache = settings.cache;
    return options;
}

// Whether the engines list holds a record a search of `kind` (KIND_SEARCH_ENGINE or
// KIND_DIRECTORY) can ask; with `ticked`, one that is ticked.
bool has_engine(const store::ItemList& engines, uint32_t kind, bool ticked) {
    for (const store::ItemRecord* r = engines.head(); r != nullptr; r = r->next.get()) {
        if ((r->kind & kind) != 0 && r->url && (!ticked || r->selected != 0)) return true;
    }
    return false;
}

}  // namespace

// The page of a ">>": slot 0 takes it when the run asks for it (and again after a redirect,
// which is then read as the page), and no slot gets anything else while it is fetched.
class SinglePageRequest final : public harvest::SpecialRequests {
public:
    SinglePageRequest(const store::ItemRecord& engine, harvest::RunState& run) : run_(run) {
        rec_.title = engine.title;
        rec_.url = engine.url;
    }
    Result serve(int slot, harvest::SlotItem& slot_item) override {
        if (slot != 0 || run_.engine_mode != harvest::kModeSinglePagePending) {
            return Result::HoldBack;
        }
        run_.engine_mode = harvest::kModeSinglePage;
        slot_item.owned.reset();
        slot_item.item = &rec_;
        return Result::Given;
    }

private:
    harvest::RunState& run_;
    store::ItemRecord rec_;
};

// Verify's one link: served to the first slot that asks, and nothing else to any slot.
class VerifyRequest final : public harvest::SpecialRequests {
public:
    explicit VerifyRequest(store::ItemRecord& rec) : rec_(rec) {}
    Result serve(int /*slot*/, harvest::SlotItem& slot_item) override {
        if (given_) return Result::HoldBack;
        given_ = true;
        rec_.status |= store::STATUS_ACTIVE | store::STATUS_VISITED;
        slot_item.owned.reset();
        slot_item.item = &rec_;
        return Result::Given;
    }
    [[nodiscard]] const store::ItemRecord& record() const { return rec_; }

private:
    store::ItemRecord& rec_;
    bool given_ = false;
};

HarvestRun::HarvestRun(Context& ctx, platform::EventLoop& loop, platform::Network& network,
                       RunWindow& window)
    : ctx_(ctx),
      env_(ctx.harvest),
      net_(ctx.net),
      loop_(loop),
      window_(window),
      engine_(std::make_unique<net::FetchEngine>(ctx.net, ctx.frontier, loop, network,
                                                 net::RequestOptions{}, std::string(),
                                                 ctx.settings.packcount, *this)),
      vendor_(std::make_unique<update::VendorRequests>(ctx.run, ctx.vendor, ctx.download)) {}

HarvestRun::~HarvestRun() = default;

bool HarvestRun::running() const { return env_.run.harvest_running != 0; }

void HarvestRun::configure_engine() {
    const Settings& settings = ctx_.settings;
    engine_->configure(request_options(settings), env_.search.person_name.value_or(std::string()),
                       settings.packcount, harvest_period(settings.timeout));
    engine_->set_robots(settings.robots != 0);
}

// ---- Start and seeding ----------------------------------------------------------------------

int HarvestRun::start_harvest(int32_t visible_tab) {
    harvest::RunState& run = env_.run;
    if (run.harvest_running != 0) return 0;
    harvest::SearchTexts& search = env_.search;
    search.scope_base.reset();
    run.harvest_running = 1;
    run.search_mode = visible_tab;
    ctx_.settings.start = visible_tab;
    ctx_.settings.start2 = search.crawl_scope;
    run.modern_reader = ctx_.settings.modern != 0;
    run.page_limit = harvest::page_limit_of(ctx_.settings.pagelimit);
    configure_engine();
    harvest::compute_scope_base(search, run.search_mode);

    // A store that cannot take what the run finds would see pages marked visited while their
    // links and addresses are thrown away: no run starts on it.
    if (!store_can_store()) {
        run.harvest_running = 0;
        return 0;
    }
    if (engine_->start_sockets() == 0) {
        run.harvest_running = 0;
        return 0;
    }
    run_start_ = RunStart{run.visited_links, run.bad_links, visited_in_file(env_.store)};
    // A harvest of the window asks the update host first, once per program run; a verify
    // or a single page never does.
    if (vendor_checks_ && run.engine_mode == harvest::kModeHarvest && verify_ == nullptr) {
        engine_->set_special_requests(vendor_.get());
        vendor_set_ = true;
    }
    verify_text_.clear();
    marked_unreached_ = 0;

    update_status_counters();
    window_.busy_cursor(true);
    set_slot_status(-1, "");
    enable_controls(true);
    run.stop_requested = 0;

    seed();
    window_.busy_cursor(false);

    loop_.start_timer(platform::kHarvestTimer, harvest_period(ctx_.settings.timeout));
    harvest_timer_ = true;
    loop_.start_timer(platform::kActivityTimer, platform::kActivityPeriodMs);
    activity_timer_ = true;
    loop_.post_command(kPostedTickCommand);
    return 1;
}

// ---- The update host -----------------------------------------------------------------------

int HarvestRun::start_vendor_transfer(int32_t mode, int32_t period_ms) {
    harvest::RunState& run = env_.run;
    if (run.harvest_running != 0) return 0;
    configure_engine();
    if (engine_->start_sockets() == 0) return 0;
    // A Cancel of the last harvest must not hold the transfer back: nothing else clears it
    // before the next Start.
    run.stop_requested = 0;
    run.engine_mode = mode;
    ctx_.vendor.check_counter = 0;
    ctx_.vendor.upgrade_counter = 0;
    run.harvest_running = 1;
    engine_->set_special_requests(vendor_.get());
    vendor_set_ = true;
    enable_controls(true);
    loop_.start_timer(platform::kHarvestTimer, period_ms);
    harvest_timer_ = true;
    loop_.start_timer(platform::kActivityTimer, platform::kActivityPeriodMs);
    activity_timer_ = true;
    loop_.post_command(kPostedTickCommand);
    return 1;
}

int HarvestRun::start_version_check() {
    return start_vendor_transfer(harvest::kModeVersionCheck,
                                 harvest_period(ctx_.settings.timeout));
}

int HarvestRun::start_vendor_download(const std::string& setup_url) {
    if (running()) return 0;
    if (!setup_url.empty()) {
        // Only over TLS: the file is a program the person is about to run.
        if (!net::is_https_url(setup_url)) return 0;
        if (!net::is_plain_file_name(net::download_file_name(setup_url))) return 0;
    }
    net_.download.close();
    net_.download.url = setup_url;
    net_.download.expected = 0;
    if (start_vendor_transfer(harvest::kModeUpgrade, kMaxTimeout) == 0) {
        net_.download.url.clear();
        env_.run.engine_mode = harvest::kModeHarvest;
        return 0;
    }
    return 1;
}

std::string HarvestRun::missing_for_start(int32_t visible_tab) {
    const harvest::SearchTexts& search = env_.search;
    const store::ItemList& engines = ctx_.engines.list;
    // A search fetches its own queries only, never the links an earlier harvest left.
    if (visible_tab == harvest::kNameSearch) {
        if (!search.person_name || search.person_name->empty()) {
            return "Nothing to fetch: type the person's Name, then press Start.";
        }
        if (!has_engine(engines, store::KIND_DIRECTORY, false)) {
            return "Nothing to fetch: engines.dat lists no directory to search.";
        }
        if (!has_engine(engines, store::KIND_DIRECTORY, true)) {
            return "Nothing to fetch: tick a directory to search, then press Start.";
        }
        return {};
    }
    if (visible_tab == harvest::kWebSearch) {
        if (!search.sought_addresses || search.sought_addresses->empty()) {
            return "Nothing to fetch: type the addresses to search for in Email:, then press "
                   "Start.";
        }
        if (!has_engine(engines, store::KIND_SEARCH_ENGINE, false)) {
            return "Nothing to fetch: engines.dat lists no search engine to use.";
        }
        if (!has_engine(engines, store::KIND_SEARCH_ENGINE, true)) {
            return "Nothing to fetch: tick a search engine to use, then press Start.";
        }
        return {};
    }
    const bool has_url = search.starting_url.has_value() && !search.starting_url->empty();
    const bool has_crawl_words =
        search.crawl_keywords.has_value() && !search.crawl_keywords->empty();
    if (visible_tab == harvest::kHarvest && has_url) return {};
    if (visible_tab == harvest::kHarvest && has_crawl_words &&
        has_engine(engines, store::KIND_SEARCH_ENGINE, false)) {
        return {};
    }
    // Links left from an earlier run are fetched by any Start. Files that cannot be opened
    // are Start's to tell about. They stay open, as Start wants them: opened twice, a damaged
    // file would be told twice.
    store::Store& st = env_.store;
    if (!st.links.is_open() && !store::open_store(st)) return {};
    if (st.links.pending_count() > 0) return {};
    if (visible_tab == harvest::kHarvest) {
        return "Nothing to fetch: type a Starting URL, then press Start.";
    }
    return "Nothing to fetch: every link of the project has been visited. Type a Starting URL "
           "on the Harvest tab, then press Start.";
}

int HarvestRun::verify_link(const store::ItemRecord& rec) {
    store::ItemList& links = env_.lists.links;
    if (running() || !rec.url || !links.contains(rec)) return 0;
    store::ItemRecord& target = links.at(links.index_of(rec));
    // The state of the last fetch goes; the new fetch sets it again.
    constexpr int32_t kFetchState = store::STATUS_VISITED | store::STATUS_BAD |
                                    store::STATUS_NOT_FOUND | store::STATUS_HOST_NOT_FOUND |
                                    store::STATUS_TIMEOUT | store::STATUS_MOVED;
    const int32_t status_before = target.status;
    const int32_t tab_before = ctx_.settings.start;
    target.status &= ~kFetchState;
    verify_ = std::make_unique<VerifyRequest>(target);
    engine_->set_special_requests(verify_.get());
    // A run from the Details tab seeds nothing; the request hands out the one link.
    const int started = start_harvest(harvest::kDetails);
    ctx_.settings.start = tab_before;  // a Verify is no harvest to remember
    if (started == 0) {
        target.status = status_before;
        engine_->set_special_requests(nullptr);
        verify_.reset();
    }
    return started;
}

int HarvestRun::fetch_single_page(const store::ItemRecord& engine, int32_t visible_tab) {
    if (running() || !engine.url) return 0;
    single_page_ = std::make_unique<SinglePageRequest>(engine, env_.run);
    // A page left by an earlier fetch is not shown for one that saves nothing.
    std::error_code ignored;
    std::filesystem::remove(net::in_folder(net_, net::kSinglePageFile), ignored);
    env_.run.engine_mode = harvest::kModeSinglePagePending;
    engine_->set_special_requests(single_page_.get());
    const int started = start_harvest(visible_tab);
    if (started == 0) {
        env_.run.engine_mode = harvest::kModeHarvest;
        engine_->set_special_requests(nullptr);
    }
    return started;
}

void HarvestRun::open_single_page() {
    std::error_code error;
    const std::filesystem::path page =
        std::filesystem::absolute(net::in_folder(net_, net::kSinglePageFile), error);
    if (error || !std::filesystem::is_regular_file(page, error)) return;  // nothing was saved
    window_.open_page(browser::file_url(page.lexically_normal().string()));
}

bool HarvestRun::store_can_store() {
    store::Store& st = env_.store;
    st.write_failing = false;
    if (!store::open_store(st)) {
        env_.shell.report_error("Unable to open or create the project files '" + st.links_path +
                                "' and '" + st.addresses_path + "': no harvest can start.");
        return false;
    }
    // Opening a damaged file has just said so; a file that was open already is told about here.
    const bool told = st.damage_told;
    st.damage_told = false;
    if (!told && (st.links.damaged() || st.addresses.damaged())) {
        const std::string& path = st.links.damaged() ? st.links_path : st.addresses_path;
        env_.shell.report_error("The file " + path +
                                " is damaged: nothing new can be stored in it, so no harvest can "
                                "start. Export what it holds, then clear the project (or start "
                                "a new one) to harvest again.");
    }
    return !st.links.damaged() && !st.addresses.damaged();
}

void HarvestRun::seed() {
    store::Store& st = env_.store;
    if (!st.links.is_open() || !st.addresses.is_open()) (void)store::open_store(st);
    env_.lists.links.find_tail();
    harvest::reset_frontier(ctx_.frontier);
    // Every run walks the links file from its start. Opening the files sets the read there,
    // but files left open by something that read them (an export after the last run) would
    // otherwise start the crawl where that read ended, and end it at once.
    st.read_position = 0;
    harvest::SearchTexts& search = env_.search;
    harvest::parse_keyword_list(search.crawl_list, search.crawl_keywords);
    harvest::parse_keyword_list(search.extract_list, search.extract_keywords);
    env_.lists.addresses.find_tail();

    search.engine_prefixes = search::search_engine_prefixes(ctx_.engines.list);
    env_.run.total_bytes = 0;
    // The page of a ">>" is fetched alone: nothing is queued for it.
    if (env_.run.engine_mode == harvest::kModeSinglePagePending) return;

    const int32_t mode = env_.run.search_mode;
    const bool has_url = search.starting_url.has_value() && !search.starting_url->empty();
    if (mode == harvest::kHarvest && has_url) {
        store::ItemRecord rec;
        rec.title = std::string(kStartingUrlTitle);
        rec.url = *search.starting_url;
        rec.source = std::string(kStartingUrlSource);
        rec.kind = store::KIND_PAGE;
        rec.status = 0;
        // A duplicate stays as it is. A link that cannot be stored is never fetched: say why.
        if (store::tree_insert(st, store::TreeFile::Links, rec) < 0 &&
            !st.links.stored(*rec.url)) {
            env_.shell.report_error(starting_url_refused(rec, st));
        }
    }

    const bool has_crawl_words =
        search.crawl_keywords.has_value() && !search.crawl_keywords->empty();
    const bool search_tab = mode == harvest::kNameSearch || mode == harvest::kWebSearch;
    // What the links file holds now was left by earlier runs; a search run leaves it alone.
    if (search_tab) ctx_.frontier.first_offset = st.links.end_offset();
    if (search_tab || (mode == harvest::kHarvest && has_crawl_words && !has_url)) {
        const search::SeededQueries seeded =
            search::seed_search_queries(st, ctx_.engines.list, search, mode);
        if (search_tab) ctx_.frontier.waiting.assign(seeded.waiting.begin(), seeded.waiting.end());
    }
}

// ---- Stopping -------------------------------------------------------------------------------

void HarvestRun::cancel_harvest() {
    if (env_.run.harvest_running == 0) return;
    ++env_.run.stop_requested;
    stop_all();
    set_slot_status(-1, "Cancelled");
}

void HarvestRun::stop_all() {
    harvest::RunState& run = env_.run;
    window_.busy_cursor(true);
    if (run.harvest_running != 0) judge_outcome();
    store::close_store(env_.store);
    run.harvest_running = 0;
    kill_harvest_timers();

    for (int i = 0; i < net::kMaxSlots; ++i) {
        if (net_.slots.slots[static_cast<std::size_t>(i)].item.item == nullptr) continue;
        net::close_slot(net_, i);
        release_slot(i, run.stop_requested != 0);
    }
    env_.lists.links.status_changed();
    engine_->release_held();
    engine_->close_idle_connections();

    // The setup file downloaded is deleted at the next start; the name is known once the file
    // exists (a name taken already gets a number).
    if (run.engine_mode == harvest::kModeUpgrade && !net_.download.name.empty()) {
        ctx_.settings.delete_file = net_.download.name;
    }
    net_.download.close();
    net_.download.url.clear();
    net_.download.name.clear();
    if (vendor_set_) {
        engine_->set_special_requests(nullptr);
        vendor_set_ = false;
    }

    // The page of a ">>" is fetched once; the request itself lives on to the next ">>".
    if (single_page_ != nullptr) engine_->set_special_requests(nullptr);
    if (verify_ != nullptr) {
        // The one link's new state is the run's last line.
        engine_->set_special_requests(nullptr);
        const store::ItemRecord& rec = verify_->record();
        verify_text_ = run.stop_requested != 0
                           ? "Verify cancelled"
                           : "Verified " + rec.url.value_or("") + ": " + link_state_text(rec);
        set_slot_status(-1, verify_text_);
        // Kept until the next run: the engine that called this may still hold the request.
        verified_ = std::move(verify_);

    } else if (outcome_.completed && outcome_.nothing_fetched()) {
        // A run that fetched nothing ends with the reason on every line, so the last line a
        // person sees says why.
        set_slot_status(-1, std::string(kHuntComplete) + ": " +
                                nothing_fetched_text(outcome_.reason));
    }
    enable_controls(false);
    update_status_counters();
    window_.post_transfer_ended();
    run.engine_mode = harvest::kModeHarvest;
    window_.busy_cursor(false);
}

void HarvestRun::release_slot(int slot, bool cut_short) {
    net::Slot& s = net_.slots.slots[static_cast<std::size_t>(slot)];
    store::ItemRecord* rec = s.item.item;
    if (rec == nullptr) return;
    // The slot lets go of its record, so no slot keeps one that another may take next.
    // A fetch cut short is offered again: the links file still holds the record unvisited,
    // and in memory it loses the visited mark too.
    rec->status &= ~store::STATUS_ACTIVE;
    if (cut_short) rec->status &= ~store::STATUS_VISITED;
    if (env_.lists.links.contains(*rec)) env_.shell.link_row_changed(*rec);
    s.item.item = nullptr;
    s.item.owned.reset();
}

void HarvestRun::apply_settings() {
    const Settings& settings = ctx_.settings;
    engine_->set_request_options(request_options(settings));
    const int in_use = engine_->set_packcount(settings.packcount);
    harvest::RunState& run = env_.run;
    store::ItemList& links = env_.lists.links;
    int64_t first_given_back = -1;
    for (int i = in_use; i < net::kMaxSlots; ++i) {
        net::Slot& s = net_.slots.slots[static_cast<std::size_t>(i)];
        store::ItemRecord* rec = s.item.item;
        // A page handed out and not fetched is not counted as visited (a robots.txt never was).
        if (rec != nullptr && (rec->status & store::STATUS_VISITED) != 0 &&
            !engine_->slot_fetches_robots(i) && run.visited_links > 0) {
            --run.visited_links;
        }
        if (rec != nullptr && links.contains(*rec) &&
            rec->file_offset < ctx_.frontier.first_offset) {
            // A query a search asks again lies before the links its walk reaches: it waits
            // with the other queries instead.
            ctx_.frontier.waiting.push_back(rec->file_offset);
        } else if (rec != nullptr && links.contains(*rec) && rec->file_offset > 0 &&
                   (first_given_back < 0 || rec->file_offset < first_given_back)) {
            first_given_back = rec->file_offset;
        }
        engine_->drop_slot(i);
        release_slot(i, true);
        set_slot_status(i, "");
    }
    // The links file still holds the given-back links unvisited; the walk goes back to the
    // first of them so that the remaining slots fetch them in this run. Links it passes again
    // that a slot holds or that wait for their site are visited in the list and skipped. Without
    // a list (display maximum 0) nothing tells those apart, and the links wait for a later run.
    if (run.harvest_running != 0 && env_.maxlist != 0 && first_given_back > 0 &&
        first_given_back < env_.store.read_position) {
        env_.store.read_position = first_given_back;
    }
    links.status_changed();
    update_status_counters();
}

void HarvestRun::kill_harvest_timers() {
    if (harvest_timer_ || loop_.timer_running(platform::kHarvestTimer)) {
        loop_.kill_timer(platform::kHarvestTimer);
    }
    if (activity_timer_ || loop_.timer_running(platform::kActivityTimer)) {
        loop_.kill_timer(platform::kActivityTimer);
    }
    harvest_timer_ = false;
    activity_timer_ = false;
}

void HarvestRun::enable_controls(bool running) {
    window_.enable_controls(running, ctx_.settings.maxlist != 0);
}

// ---- Reset Link Status ----------------------------------------------------------------------

void HarvestRun::reset_link_status() {
    store::ItemLists& lists = env_.lists;
    if (lists.links.row_count == 0) return;
    if (!window_.confirm(kResetQuestion)) return;
    window_.busy_cursor(true);
    if (env_.run.harvest_running != 0) {
        ++env_.run.stop_requested;
        stop_all();
    }
    env_.run.stop_requested = 0;
    ctx_.settings.modrep = 1;
    // Only the records in memory: the links file keeps its status words, so links whose fetch
    // ended are not offered again; the icons change.
    for (store::ItemRecord* r = lists.links.head(); r != nullptr; r = r->next.get()) r->status = 0;
    lists.links.status_changed();

    update_status_counters();
    harvest::refill_views(lists, env_.shell, env_.maxlist);
    window_.busy_cursor(false);
}

// ---- Status lines and counters --------------------------------------------------------------

void HarvestRun::set_slot_status(int slot, std::string_view message) {
    ctx_.status.set(slot, message);
}

const std::string& HarvestRun::slot_line(int slot) const { return ctx_.status.line(slot); }

StatusCounters HarvestRun::status_counters() const {
    const harvest::RunState& run = env_.run;
    StatusCounters c;
    c.visited = run.visited_links;
    // The links file's own figure: a link handed out stays pending until its answer marks it
    // visited, and one whose fetch failed is left for a later run, as the file says.
    c.pending = store::unvisited_links(env_.store);
    c.bad = run.bad_links;
    c.bytes = run.total_bytes;
    return c;
}

void HarvestRun::update_status_counters() { env_.shell.refresh_status_counters(); }

void HarvestRun::show_total_bytes(int64_t /*bytes*/) { env_.shell.refresh_status_counters(); }

// ---- Event routing --------------------------------------------------------------------------

void HarvestRun::on_timer(int timer_id) {
    if (timer_id == platform::kHarvestTimer) {
        engine_->on_tick();
    } else if (timer_id == platform::kActivityTimer) {
        activity_tick();
    }
}

void HarvestRun::on_command(int command_id) {
    if (engine_->on_command(command_id)) return;
    switch (command_id) {
        case kPostedTickCommand:
            if (env_.run.harvest_running != 0) engine_->on_tick();
            break;
        case cmd::kStart:
            // While a harvest runs the Start button reads "Status".
            if (env_.run.harvest_running != 0) window_.open_status_dialog();
            break;
        case cmd::kCancel:
            cancel_harvest();
            break;
        case cmd::kResetLinkStatus:
            if (env_.run.harvest_running == 0) reset_link_status();  // disabled while running
            break;
        default:
            break;
    }
}

void HarvestRun::judge_outcome() {
    const harvest::RunState& run = env_.run;
    const bool cut_short = run.stop_requested != 0 || env_.store.write_failing;
    const int64_t visited = env_.store.links.is_open() ? visited_in_file(env_.store)
                                                       : run_start_.visited_in_file;
    outcome_ = judge_run(run_start_, run, visited, marked_unreached_, cut_short);
    outcome_.completed = !cut_short && run.engine_mode == harvest::kModeHarvest;
    outcome_.reason = ctx_.status.last_slot_message();
}

void HarvestRun::mark_unreached(int slot) {
    store::ItemRecord* rec = net_.slots.slots[static_cast<std::size_t>(slot)].item.item;
    if (rec == nullptr || (rec->kind & store::KIND_PAGE) == 0 ||
        (rec->status & store::STATUS_BAD) != 0) {
        return;
    }
    // In memory only: a line rewritten now would store the link as visited.
    rec->status |= store::STATUS_BAD;
    ++env_.run.bad_links;
    ++marked_unreached_;
    if (env_.lists.links.contains(*rec)) env_.shell.link_row_changed(*rec);
    update_status_counters();
}

void HarvestRun::link_unanswered(int slot) {
    if (env_.run.engine_mode == harvest::kModeHarvest) mark_unreached(slot);
}

void HarvestRun::on_connect_done(int socket, int error) {
    // A connection that failed leaves its link with the slot until the slot takes the next;
    // a TLS failure fails the link in the engine. A robots.txt is no link of the project.
    int slot = -1;
    if (error != 0 && error != platform::kTlsFailed &&
        env_.run.engine_mode == harvest::kModeHarvest) {
        for (int i = 0; i < net::kMaxSlots; ++i) {
            const net::Slot& s = net_.slots.slots[static_cast<std::size_t>(i)];
            if (s.socket == socket && s.state == net::SlotState::Connecting) slot = i;
        }
        if (slot >= 0 && net_.politeness != nullptr && net_.politeness->fetching_robots(slot)) {
            slot = -1;
        }
    }
    engine_->on_connect_done(socket, error);
    if (slot >= 0) mark_unreached(slot);
}

void HarvestRun::on_data_ready(int socket, int error) { engine_->on_data_ready(socket, error); }

void HarvestRun::on_lookup_done(int event_id, int error, std::string_view address) {
    engine_->on_lookup_done(event_id, error, address);
}

void HarvestRun::activity_tick() {
    // The pages fetched since the last tick get their visited marks on disk, after what was
    // found on them.
    if (env_.run.harvest_running != 0) (void)store::commit(env_.store);
    if (!window_.version_dialog_open()) return;
    std::string text(kActivityWidth, ' ');
    text[static_cast<std::size_t>(activity_pos_)] = kActivityMarker;
    window_.show_activity(text);
    activity_pos_ += activity_dir_;
    if (activity_pos_ > kActivityWidth - 1) {
        activity_pos_ = kActivityWidth - 2;
        activity_dir_ = -1;
    } else if (activity_pos_ < 0) {
        activity_pos_ = 1;
        activity_dir_ = 1;
    }
}

}  // namespace tarnvelox::app
