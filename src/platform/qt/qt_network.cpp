#include "platform/qt/qt_network.h"

namespace tarnvelox::platform::qt {}  // namespace tarnvelox::platform::qt
