#pragma once

// The requests to the update host that the link picker serves before any link: the version
// check once per run (in every engine mode but the single page), then in the upgrade mode the
// one index or setup download. Run control sets it on the fetch engine for the window's runs
// only; the headless harvester never asks the update host. Borrows the run state, the vendor
// values and the download for its whole life.

#include "harvest/frontier.h"
#include "harvest/run_state.h"
#include "net/download.h"
#include "update/vendor_state.h"

namespace tarnvelox::update {

class VendorRequests final : public harvest::SpecialRequests {
public:
    VendorRequests(harvest::RunState& run, VendorState& state, net::Download& download)
        : run_(run), state_(state), download_(download) {}
    // Given: the slot now holds a new vendor record (owned by the slot item); HoldBack: in the
    // version-check and upgrade modes once their request is out; None: a harvest goes on with
    // its links.
    Result serve(int slot, harvest::SlotItem& slot_item) override;

private:
    harvest::RunState& run_;
    VendorState& state_;
    net::Download& download_;
};

}  // namespace tarnvelox::update
