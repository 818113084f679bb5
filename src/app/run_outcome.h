#pragma once

// RunOutcome: what one harvest run came to, judged the same way by every front end. The run's
// counters carry on from the project's, so the run's share is the difference between its Start
// and its end; the links file says which of the links handed out were answered (they are stored
// visited). A link handed out that was never answered (a refused or unreachable connection, a
// dead proxy) stays unvisited for the next run and counts as a bad link of this one. Plain
// values, computed by HarvestRun when a run ends; nothing here keeps a reference.

#include <cstdint>
#include <string>
#include <string_view>

#include "harvest/run_state.h"

namespace tarnvelox::app {

// The line shown on every connection when a harvest ran out of links by itself.
inline constexpr std::string_view kHuntComplete = "Hunt Complete";

// The figures taken at Start.
struct RunStart {
    int64_t handed_out = 0;       // RunState::visited_links
    int64_t bad = 0;              // RunState::bad_links
    int64_t visited_in_file = 0;  // links stored visited
};

struct RunOutcome {
    int64_t handed_out = 0;  // links given to a connection this run
    int64_t pages = 0;       // of them, answered: stored visited (bad ones too)
    int64_t failed = 0;      // answered with an error, or whose host was not found
    int64_t unreached = 0;   // never answered: they stay unvisited for the next run
    bool completed = false;  // the run ran out of links ("Hunt Complete"), not stopped
    std::string reason;      // what a connection said last (why a fetch failed)

    [[nodiscard]] int64_t bad() const { return failed + unreached; }
    [[nodiscard]] int64_t fetched() const { return pages > failed ? pages - failed : 0; }
    // Links were handed out and not one gave a page.
    [[nodiscard]] bool nothing_fetched() const { return handed_out > 0 && fetched() == 0; }
};

// Judges a run from the figures of its Start, the run state and the links stored visited now.
// `marked_unreached` counts the links run control already counted as bad when their connection
// failed (they are in RunState::bad_links but not in the file). A run cut short (Cancel, the
// files could not be written) counts no other link as unreached: what it handed out and did
// not finish is offered again.
[[nodiscard]] RunOutcome judge_run(const RunStart& start, const harvest::RunState& run,
                                   int64_t visited_in_file, int64_t marked_unreached,
                                   bool cut_short);

// "not one page could be fetched (REASON)"; "no answer" stands for an empty reason.
[[nodiscard]] std::string nothing_fetched_text(std::string_view reason);

}  // namespace tarnvelox::app
