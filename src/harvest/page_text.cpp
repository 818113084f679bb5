#include "harvest/page_text.h"

namespace tarnvelox::harvest {}  // namespace tarnvelox::harvest
