#include "harvest/url_resolve.h"

namespace tarnvelox::harvest {}  // namespace tarnvelox::harvest
