#include "app/preferences.h"

#include <algorithm>

#include "base/text_util.h"

namespace tarnvelox::app {

Preferences preferences_of(const Settings& settings) {
    Preferences p;
    p.browser = settings.browser.value_or("");
    p.connections = std::to_string(settings.packcount);
    p.proxy = settings.proxy.value_or("");
    p.port = std::to_string(settings.port);
    p.timeout = std::to_string(settings.timeout);
    p.new_window = (settings.newwin & kNewWindowBit) != 0;
    p.display_map = (settings.newwin & kDisplayMapBit) != 0;
    p.disable_caching = settings.cache != 0;
    p.maxlist = std::to_string(settings.maxlist);
    p.robots = settings.robots != 0;
    p.modern = settings.modern != 0;
    return p;
}

void apply_preferences(const Preferences& prefs, Settings& settings) {
    settings.browser = prefs.browser;
    settings.proxy = prefs.proxy;
    int32_t timeout = std::min(base::read_int(prefs.timeout), kMaxTimeoutMs);
    // 0 keeps meaning the default period; anything else shorter than a second is taken as a
    // slip (seconds typed for milliseconds) and lengthened.
    if (timeout != 0 && timeout < kMinTimeoutMs) timeout = kMinTimeoutMs;
    settings.timeout = timeout;
    settings.maxlist = base::read_int(prefs.maxlist);
    settings.port = base::read_int(prefs.port);
    settings.packcount =
        std::clamp(base::read_int(prefs.connections), kMinConnections, harvest::kMaxConnections);
    settings.cache = prefs.disable_caching ? 1 : 0;
    settings.newwin = (prefs.new_window ? kNewWindowBit : 0) |
                      (prefs.display_map ? kDisplayMapBit : 0);
    settings.robots = prefs.robots ? 1 : 0;
    settings.modern = prefs.modern ? 1 : 0;
}

}  // namespace tarnvelox::app
