#include "harvest/page_scanner.h"

namespace tarnvelox::harvest {}  // namespace tarnvelox::harvest
