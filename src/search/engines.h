#pragma once

namespace tarnvelox::search {}  // namespace tarnvelox::search
