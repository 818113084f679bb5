#pragma once

namespace tarnvelox::app {}  // namespace tarnvelox::app
