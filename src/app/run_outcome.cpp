#include "app/run_outcome.h"

#include <algorithm>

namespace tarnvelox::app {

RunOutcome judge_run(const RunStart& start, const harvest::RunState& run,
                     int64_t visited_in_file, int64_t marked_unreached, bool cut_short) {
    RunOutcome out;
    out.handed_out = std::max<int64_t>(run.visited_links - start.handed_out, 0);
    out.pages = std::max<int64_t>(visited_in_file - start.visited_in_file, 0);
    const int64_t bad = std::max<int64_t>(run.bad_links - start.bad, 0);
    out.failed = std::max<int64_t>(bad - marked_unreached, 0);
    out.unreached = marked_unreached;
    if (!cut_short) {
        out.unreached = std::max(out.unreached, out.handed_out - out.pages);
    }
    return out;
}

std::string nothing_fetched_text(std::string_view reason) {
    return "not one page could be fetched (" +
           std::string(reason.empty() ? std::string_view("no answer") : reason) + ")";
}

}  // namespace tarnvelox::app
