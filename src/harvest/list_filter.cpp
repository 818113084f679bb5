#include "harvest/list_filter.h"

namespace tarnvelox::harvest {}  // namespace tarnvelox::harvest
