#include "harvest/crawl_scope.h"

namespace tarnvelox::harvest {}  // namespace tarnvelox::harvest
