#include "exchange/export.h"

namespace tarnvelox::exchange {}  // namespace tarnvelox::exchange
