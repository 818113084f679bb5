#pragma once

// VendorService: the fetch engine's handler of the update host's answers and files. It reads
// answers into the vendor values, takes over the index after its download, and passes boxes
// and the setup download's progress on to the window's version-check dialog and upgrade wizard
// (VendorView). Borrows the vendor values and settings for its whole life; one thread.

#include <cstdint>
#include <string>
#include <string_view>

#include "net/vendor.h"
#include "update/vendor_answer.h"
#include "update/vendor_state.h"

namespace tarnvelox::update {

// What the window shows of the update service. Boxes asked for by an answer may arrive in the
// middle of response handling: the window shows them once the event loop is back, never from
// inside the call.
class VendorView {
public:
    virtual ~VendorView() = default;
    virtual void show_vendor_message(const VendorMessage& message) = 0;
    // The setup file's header arrived; `expected` is its announced length (0: unknown).
    virtual void download_started(int32_t /*expected*/) {}
    virtual void download_progress(int32_t /*written*/, int32_t /*expected*/) {}
    // The setup file is complete at `path`.
    virtual void download_finished(const std::string& /*path*/) {}
};

class VendorService final : public net::VendorHandler {
public:
    // `folder`: the data folder, where the index file and downloads/ live; borrowed, so that
    // a folder chosen after the context was built counts.
    VendorService(VendorState& state, VendorSettings settings, const std::string& folder)
        : state_(state), settings_(settings), folder_(folder) {}
    VendorService(const VendorService&) = delete;
    VendorService& operator=(const VendorService&) = delete;

    // The window's dialog and wizard; null (the default) shows nothing.
    void set_view(VendorView* view) { view_ = view; }

    void index_saved() override;
    void answer_received(std::string_view response) override;
    void download_started(int32_t expected) override;
    void download_progress(int32_t written, int32_t expected) override;
    void download_finished(std::string_view file_name) override;

private:
    VendorState& state_;
    VendorSettings settings_;
    const std::string& folder_;
    VendorView* view_ = nullptr;
};

}  // namespace tarnvelox::update
