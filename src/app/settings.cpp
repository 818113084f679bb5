#include "app/settings.h"

namespace tarnvelox::app {}  // namespace tarnvelox::app
