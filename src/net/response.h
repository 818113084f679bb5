#pragma once

// Handling a finished response: classifying it by its status text, recording the outcome in
// the fetched item, queueing a redirect's target as a new link, handing documents to the page
// scanner, saving the single page and the vendor's files, and routing vendor answers on.

#include <cstdint>
#include <string>
#include <string_view>

#include "harvest/harvest_state.h"
#include "net/slot.h"

namespace tarnvelox::net {

inline constexpr std::size_t kStatusTextLength = 80;  // the part of a response status tests see
inline constexpr std::size_t kDocumentMinimum = 1024; // a response this long is a document
inline constexpr std::string_view kSinglePageFile = "page.htm";

// The vendor's side of a response: answers and files of the update service. The update module
// implements it; until then nothing happens with them.
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
    // The setup file download has ended; `file_name` is its name in the working folder.
    virtual void download_finished(std::string_view /*file_name*/) {}
};

inline constexpr std::string_view kDownloadCaption =
    "Downloading Upgrade File. Please Wait.........";

// The setup file being downloaded, if any.
struct Download {
    std::string url;     // the download's URL; empty when none is pending
    int fd = -1;         // the file being written, -1 when not open
    int32_t expected = 0;
    [[nodiscard]] bool open() const { return fd >= 0; }
    void close();
};

// Closes sockets for the slots; the fetch engine's socket layer implements it.
class SocketCloser {
public:
    virtual ~SocketCloser() = default;
    virtual void close_socket(int socket) = 0;
};

// Everything response handling works on, borrowed for the call.
struct NetEnv {
    harvest::HarvestEnv& harvest;
    SlotTable& slots;
    Download& download;
    VendorHandler* vendor = nullptr;  // null: the update service's answers go nowhere
    SocketCloser* sockets = nullptr;  // null: sockets are not tracked (tests)
    std::string folder = ".";         // where "page.htm" and vendor files are written
};

// Frees the slot: idle, ticks 0, its socket (neither 0 nor -1) closed and set to 0.
void close_slot(NetEnv& env, int slot);

// The common failure ending: slot idle, item marked bad and counted, its line rewritten when it
// is stored in the links file, counters refreshed. 0 for a vendor item, 1 otherwise.
int fail_item(NetEnv& env, int slot);

// Judges the slot's finished response. 1 when it was taken as a document or a redirect, 0
// when the item failed or the answer went to the vendor.
int complete_response(NetEnv& env, int slot);

// Writes the body of the slot's response to "page.htm" in the working folder.
void save_single_page(NetEnv& env, int slot);

// The setup file download, receive side. A download is the vendor download item of a slot
// while a download URL is pending.
[[nodiscard]] bool is_download(const NetEnv& env, const store::ItemRecord* item);
// Called after bytes went to the slot's response buffer: once the buffer holds the blank line,
// creates the file (named after the URL's last segment), writes the body received so far and
// from then on counts written body bytes as received. A file that cannot be created raises
// stop_requested.
void start_download(NetEnv& env, int slot);
// Writes bytes read while the file is open. A failed write stops the transfer.
void write_download(NetEnv& env, int slot, std::string_view bytes);

}  // namespace tarnvelox::net
