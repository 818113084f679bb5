#include "update/vendor_requests.h"

#include <string>

#include "store/item_record.h"

namespace tarnvelox::update {
namespace {

// A vendor record held by the slot alone: it is in no list and no file.
void give(harvest::SlotItem& slot_item, std::string_view url, uint32_t kind) {
    slot_item.owned = store::clear_record();
    store::ItemRecord& rec = *slot_item.owned;
    rec.title = std::string(kVendorTitle);
    rec.url = std::string(url);
    rec.kind = kind;
    rec.file_offset = -1;
    rec.status = store::STATUS_ACTIVE | store::STATUS_VISITED;
    slot_item.item = &rec;
}

}  // namespace

harvest::SpecialRequests::Result VendorRequests::serve(int /*slot*/,
                                                       harvest::SlotItem& slot_item) {
    const int32_t mode = run_.engine_mode;
    if (mode == harvest::kModeSinglePage || mode == harvest::kModeSinglePagePending) {
        return Result::None;
    }
    if (state_.check_counter == 0 && state_.answers_received == 0 && download_.url.empty()) {
        ++state_.check_counter;
        give(slot_item, kCheckUrl, store::KIND_VENDOR);
        return Result::Given;
    }
    if (mode == harvest::kModeUpgrade) {
        if (state_.upgrade_counter != 0) return Result::HoldBack;
        ++state_.upgrade_counter;
        give(slot_item, download_.url.empty() ? kIndexUrl : std::string_view(download_.url),
             store::KIND_VENDOR | store::KIND_DOWNLOAD);
        return Result::Given;
    }
    if (mode == harvest::kModeVersionCheck) return Result::HoldBack;
    return Result::None;
}

}  // namespace tarnvelox::update
