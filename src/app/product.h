#pragma once

// The product's name, version and build number, as the About box and the harvester's
// --version show them, and the vendor's pages the window opens in the browser.

namespace tarnvelox::app {

inline constexpr const char* kProductName = "Tarnvelox";
inline constexpr const char* kProductVersion = "1.00";
inline constexpr const char* kBuildNumber = "005";

// The vendor's pages, set when building (cmake -DTARNVELOX_FAQ_URL=... and so on). Left empty,
// as they are by default, the window shows the documents installed with the program instead:
// the vendor's own host is a reserved name that never resolves, and handing it to a browser
// would only send a look-up for it.
#ifndef TARNVELOX_FAQ_URL
#define TARNVELOX_FAQ_URL ""
#endif
#ifndef TARNVELOX_HOME_PAGE_URL
#define TARNVELOX_HOME_PAGE_URL ""
#endif
#ifndef TARNVELOX_VENDOR_WEB_HOST
#define TARNVELOX_VENDOR_WEB_HOST ""
#endif
#ifndef TARNVELOX_DOWNLOAD_PAGE_URL
#define TARNVELOX_DOWNLOAD_PAGE_URL ""
#endif

struct VendorPage {
    const char* url;       // as set when building; empty: `document` is shown
    const char* document;  // the installed document shown in its place
};

// The documents installed with the program: the README in the documentation folder, the
// harvester's manual page in section 1 of the manual.
inline constexpr const char* kReadmeDocument = "README.md";
inline constexpr const char* kManualDocument = "tarnvelox-harvest.1";

inline constexpr VendorPage kFaqPage{TARNVELOX_FAQ_URL, kManualDocument};
inline constexpr VendorPage kHomePage{TARNVELOX_HOME_PAGE_URL, kReadmeDocument};
// The version history lives at the fixed path "/tarnv/history.txt" of the vendor's web host.
inline constexpr VendorPage kHistoryPage{
    TARNVELOX_VENDOR_WEB_HOST[0] != '\0' ? TARNVELOX_VENDOR_WEB_HOST "/tarnv/history.txt" : "",
    kReadmeDocument};
inline constexpr VendorPage kDownloadPage{TARNVELOX_DOWNLOAD_PAGE_URL, kReadmeDocument};

}  // namespace tarnvelox::app
