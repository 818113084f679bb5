#pragma once

namespace tarnvelox::platform::qt {}  // namespace tarnvelox::platform::qt
