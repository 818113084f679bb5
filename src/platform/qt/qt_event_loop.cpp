#include "platform/qt/qt_event_loop.h"

namespace tarnvelox::platform::qt {}  // namespace tarnvelox::platform::qt
