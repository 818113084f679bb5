#pragma once

namespace tarnvelox::net {}  // namespace tarnvelox::net
