#include "app/project.h"

namespace tarnvelox::app {}  // namespace tarnvelox::app
