#pragma once

// The vendor's update service and the handler of its answers. Its domain lies under the reserved ".example" top-level domain,
// so no real host is ever contacted: requests to it are recognised by this text, never expanded
// as templates, and their answers are read as vendor answers instead of pages.

#include <cstdint>
#include <string_view>

#include "base/text_util.h"

namespace tarnvelox::net {

inline constexpr std::string_view kVendorDomain = "tarnvelox.example";
inline constexpr std::string_view kUpdateHost = "update.tarnvelox.example";

// Whether `host` is the vendor's domain or a host under it (any letter case). Such a name can
// never resolve: the fetch engine fails it at once instead of asking the resolver.
[[nodiscard]] constexpr bool in_vendor_domain(std::string_view host) {
    if (host.size() < kVendorDomain.size()) return false;
    const std::string_view tail = host.substr(host.size() - kVendorDomain.size());
    return base::equal_nocase(tail, kVendorDomain) &&
           (host.size() == kVendorDomain.size() || host[host.size() - tail.size() - 1] == '.');
}

// The vendor's side of a response: answers and files of the update service. The update module
// implements it (update::VendorService); without a handler nothing happens with them.
class VendorHandler {
public:
    virtual ~VendorHandler() = default;
    // The vendor's index file was saved: take over its announced revision and read it.
    virtual void index_saved() {}
    // An answer of the vendor's script, the whole response text.
    virtual void answer_received(std::string_view /*response*/) {}
    // The setup file's header has arrived and its file is open: the wizard's caption becomes
    // kDownloadCaption; `expected` is the announced length (0: none).
    virtual void download_started(int32_t /*expected*/) {}
    // Body bytes written so far, and the announced length.
    virtual void download_progress(int32_t /*written*/, int32_t /*expected*/) {}
    // The setup file download has ended; `file_name` is the path of the file written.
    virtual void download_finished(std::string_view /*file_name*/) {}
};

}  // namespace tarnvelox::net
