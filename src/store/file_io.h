#pragma once

// Positioned reads and writes on a file descriptor that carry on after interruptions and short
// transfers, for the link tree files.

#include <cstddef>
#include <cstdint>

namespace tarnvelox::store {

// Writes all `size` bytes at `offset`; false when the file takes fewer (a full disk, an error).
[[nodiscard]] bool write_exact(int fd, int64_t offset, const void* data, std::size_t size);

// Reads up to `size` bytes at `offset`; how many were read (fewer only at the end or an error).
[[nodiscard]] std::size_t read_some(int fd, int64_t offset, void* out, std::size_t size);

}  // namespace tarnvelox::store
