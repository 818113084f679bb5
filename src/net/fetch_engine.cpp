#include "net/fetch_engine.h"

namespace tarnvelox::net {}  // namespace tarnvelox::net
