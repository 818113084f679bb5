#pragma once

// The person's web browser: which programs can show a page (detected once at start-up, for the
// Preferences' list), and handing a URL or a file of the data folder to the chosen one through
// platform::Desktop. Only web and mail URLs and existing files are ever handed over: a link of
// any other scheme would start whatever program the desktop has registered for it. One thread;
// nothing here keeps a reference to its arguments, save the Desktop a Handoff borrows.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop.h"

namespace tarnvelox::browser {

// What detection reads from the process environment; from_process() reads the real one, tests
// give their own (a PATH of their own folder, with their own xdg-settings script).
struct BrowserEnvironment {
    std::string browser_variable;  // $BROWSER: programs separated by ":"
    std::string path;              // $PATH
    std::string data_home;         // $XDG_DATA_HOME, else ~/.local/share
    std::string data_dirs;         // $XDG_DATA_DIRS, else /usr/local/share:/usr/share

    [[nodiscard]] static BrowserEnvironment from_process();
};

// The browser programs of this desktop, each once, in this order: `configured` (browser=) when
// not empty, as it is; the programs of $BROWSER; the desktop's default web browser (the Exec
// program of the entry `xdg-settings get default-web-browser` names, found in the applications
// folders of the data folders, unless it is a launcher told what to start); the usual
// browsers. Programs named without a "/" are the files found for them on PATH; a program that
// is not there (or not executable) is left out. A hanging xdg-settings is given up after
// kDefaultBrowserWaitMs.
[[nodiscard]] std::vector<std::string> detect_browser(const std::string& configured,
                                                      const BrowserEnvironment& env);

// xdg-settings asks the desktop (a D-Bus call, a settings tool): some desktops take a second.
inline constexpr int kDefaultBrowserWaitMs = 3000;

// The URL `target` is handed over as, or none when it must not be: an http, https or mailto
// URL as it is (scheme in any case), a file URL as it is when it names a regular file of this
// machine; a target without ":" names a file of `folder` (an absolute path) and becomes the
// file:// URL of its path, only when that is a regular file and the name has no "/".
// Everything else (other schemes, empty, an argument-like "-...") is none.
[[nodiscard]] std::optional<std::string> handoff_url(std::string_view target,
                                                     const std::string& folder);

// The file:// URL of `path` when it is a folder that is there inside `folder` (an absolute
// path; the two compared once links are resolved), none otherwise: `folder` itself, a folder
// outside it, a file, a missing path. The window shows where a download went this way.
[[nodiscard]] std::optional<std::string> folder_handoff_url(const std::string& path,
                                                            const std::string& folder);

// "file://" and the absolute `path` with every byte but the unreserved ones and "/"
// percent-encoded, so a blank or "#" in a folder name stays part of the path.
[[nodiscard]] std::string file_url(std::string_view path);

// Whether `program` (a path or a name) takes "--new-window": the Firefox and Chromium
// families.
[[nodiscard]] bool takes_new_window_option(std::string_view program);

// The text of the warning box when the browser could not be started (caption kErrorCaption).
inline constexpr std::string_view kErrorCaption = "Browser Error";
inline constexpr std::string_view kErrorText =
    "\"Unable to open the specified Browser. Please check the Tarnvelox Configuration.\"";

// Hands pages to the browser, one at a time.
class Handoff {
  public:
    // `desktop` is borrowed for the object's life. Files are looked for in `folder`; empty:
    // the current directory at each hand-off (the program works in its data folder).
    explicit Handoff(platform::Desktop& desktop, std::string folder = {});

    // Hands `target` (see handoff_url) to `browser` (browser=), or to the desktop's default
    // browser when that is empty. With a browser, the program is started with the URL as its
    // one argument, after "--new-window" when bit 0 of `newwin` is set and the program takes
    // it. 1 when handed over. 0 for a refused target, or while another hand-off runs (a box it
    // shows keeps events coming), both without a word; 0 after the kErrorText warning box when
    // the browser could not be started.
    [[nodiscard]] int open_in_browser(std::string_view target, const std::string& browser,
                                      int32_t newwin);
    // As open_in_browser, for a folder of the hand-off's folder (see folder_handoff_url).
    [[nodiscard]] int open_folder(const std::string& path, const std::string& browser,
                                  int32_t newwin);

  private:
    int hand_over(const std::optional<std::string>& url, const std::string& browser,
                  int32_t newwin);

    platform::Desktop& desktop_;
    std::string folder_;
    bool busy_ = false;
};

}  // namespace tarnvelox::browser
