#include "net/request.h"

namespace tarnvelox::net {}  // namespace tarnvelox::net
