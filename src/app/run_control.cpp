#include "app/run_control.h"

#include <algorithm>

#include "app/context.h"
#include "harvest/crawl_scope.h"
#include "harvest/list_rows.h"
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

int32_t harvest_period(int32_t timeout) {
    if (timeout <= 0) return kDefaultTimeout;
    return std::min(timeout, kMaxTimeout);
}

}  // namespace

HarvestRun::HarvestRun(Context& ctx, platform::EventLoop& loop, platform::Network& network,
                       RunWindow& window)
    : ctx_(ctx),
      env_(ctx.harvest),
      net_(ctx.net),
      loop_(loop),
      window_(window),
      engine_(std::make_unique<net::FetchEngine>(ctx.net, ctx.frontier, loop, network,
                                                 net::RequestOptions{}, std::string(),
                                                 ctx.settings.packcount, *this)) {}

HarvestRun::~HarvestRun() = default;

bool HarvestRun::running() const { return env_.run.harvest_running != 0; }

void HarvestRun::configure_engine() {
    const Settings& settings = ctx_.settings;
    net::RequestOptions options;
    options.proxy = settings.proxy.value_or("");
    options.port = settings.port;
    options.cache = settings.cache;
    engine_->configure(std::move(options), env_.search.person_name.value_or(std::string()),
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
    const bool queries = mode == harvest::kNameSearch || mode == harvest::kWebSearch ||
                         (mode == harvest::kHarvest && has_crawl_words && !has_url);
    if (queries && seeder_ != nullptr) seeder_->queue_queries(env_);

    env_.run.total_bytes = 0;
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
    store::close_store(env_.store);
    run.harvest_running = 0;
    kill_harvest_timers();

    store::ItemList& links = env_.lists.links;
    for (int i = 0; i < net::kMaxSlots; ++i) {
        net::Slot& s = net_.slots.slots[static_cast<std::size_t>(i)];
        store::ItemRecord* rec = s.item.item;
        if (rec == nullptr) continue;
        net::close_slot(net_, i);
        // The slot lets go of its record, so no slot keeps one that another may take next.
        // A fetch cut short by a stop request is offered again: the links file still holds
        // the record unvisited, and in memory it loses the visited mark too.
        rec->status &= ~store::STATUS_ACTIVE;
        if (run.stop_requested != 0) rec->status &= ~store::STATUS_VISITED;
        if (links.contains(*rec)) env_.shell.link_row_changed(*rec);
        s.item.item = nullptr;
        s.item.owned.reset();
    }
    links.status_changed();
    engine_->release_held();

    net_.download.close();
    net_.download.url.clear();

    enable_controls(false);
    update_status_counters();
    window_.post_transfer_ended();
    run.engine_mode = harvest::kModeHarvest;
    window_.busy_cursor(false);
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
        case kStartCommand:
            // While a harvest runs the Start button reads "Status".
            if (env_.run.harvest_running != 0) window_.open_status_dialog();
            break;
        case kCancelCommand:
            cancel_harvest();
            break;
        case kResetLinkStatusCommand:
            if (env_.run.harvest_running == 0) reset_link_status();  // disabled while running
            break;
        default:
            break;
    }
}

void HarvestRun::on_connect_done(int socket, int error) { engine_->on_connect_done(socket, error); }

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
