#pragma once

namespace tarnvelox::exchange {}  // namespace tarnvelox::exchange
