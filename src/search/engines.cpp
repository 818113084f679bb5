#include "search/engines.h"

namespace tarnvelox::search {}  // namespace tarnvelox::search
