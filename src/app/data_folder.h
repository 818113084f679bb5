#pragma once

// Where the desktop program keeps its files. Started from a desktop menu it runs in the home
// folder, so it works in a data folder of its own instead: $XDG_DATA_HOME/tarnvelox, or
// ~/.local/share/tarnvelox when that variable is unset, empty or not an absolute path. Inside
// it every file keeps its fixed name ("tarnv.ini", "default.tvp", "engines.dat", ...). The
// headless harvester keeps working in the current directory.

#include <string>

namespace tarnvelox::app {

inline constexpr const char* kDataFolderName = "tarnvelox";

// The data folder for these environment values (either may be null). Empty when neither gives
// an absolute folder.
[[nodiscard]] std::string data_folder(const char* xdg_data_home, const char* home);

// Creates `folder` (and its parents) when missing and copies `shipped_engines` there as
// "engines.dat" when the folder has none and the shipped file exists. True when the folder
// exists and is a folder afterwards; otherwise false with the reason in `error`. A failed copy
// of the engines file is not an error: the program starts without engines and says so.
[[nodiscard]] bool prepare_data_folder(const std::string& folder,
                                       const std::string& shipped_engines, std::string& error);

}  // namespace tarnvelox::app
