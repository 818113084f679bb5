#include "app/data_folder.h"

#include <filesystem>
#include <system_error>

#include "search/engines.h"

namespace tarnvelox::app {

std::string data_folder(const char* xdg_data_home, const char* home) {
    // The base-directory rules: a relative value is invalid and is ignored.
    if (xdg_data_home != nullptr && xdg_data_home[0] == '/') {
        return std::string(xdg_data_home) + "/" + kDataFolderName;
    }
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/share/" + kDataFolderName;
    }
    return {};
}

bool prepare_data_folder(const std::string& folder, const std::string& shipped_engines,
                         std::string& error) {
    namespace fs = std::filesystem;
    if (folder.empty()) {
        error = "Neither XDG_DATA_HOME nor HOME names an absolute folder";
        return false;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder)) {
        error = "Unable to create the folder '" + folder + "'" +
                (ec ? ": " + ec.message() : std::string(": a file of that name is in the way"));
        return false;
    }
    const fs::path engines = fs::path(folder) / std::string(search::kEnginesFile);
    if (!shipped_engines.empty() && !fs::exists(engines, ec) &&
        fs::is_regular_file(shipped_engines, ec)) {
        fs::copy_file(shipped_engines, engines, ec);  // failure: start without engines
    }
    return true;
}

}  // namespace tarnvelox::app
