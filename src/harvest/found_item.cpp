#include "harvest/found_item.h"

namespace tarnvelox::harvest {}  // namespace tarnvelox::harvest
