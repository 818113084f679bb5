#include "update/vendor_service.h"

#include <vector>

#include "update/vendor_index.h"

namespace tarnvelox::update {

void VendorService::index_saved() {
    settings_.upgrade = settings_.upgradenew;
    (void)read_vendor_index(folder_ + "/" + std::string(kIndexFile), state_);
}

void VendorService::answer_received(std::string_view response) {
    std::vector<VendorMessage> boxes;
    (void)parse_vendor_answer(response, state_, settings_, boxes);
    if (view_ == nullptr) return;
    for (const VendorMessage& box : boxes) view_->show_vendor_message(box);
}

void VendorService::download_started(int32_t expected) {
    if (view_ != nullptr) view_->download_started(expected);
}

void VendorService::download_progress(int32_t written, int32_t expected) {
    if (view_ != nullptr) view_->download_progress(written, expected);
}

void VendorService::download_finished(std::string_view file_name) {
    if (view_ != nullptr) view_->download_finished(std::string(file_name));
}

}  // namespace tarnvelox::update
