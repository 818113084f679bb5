#pragma once

// Positioned reads and writes on a file descriptor that carry on after interruptions and short
// transfers, for the link tree files.

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnvelox::base {

// Writes all `size` bytes at `offset`; false when the file takes fewer (a full disk, an error).
[[nodiscard]] bool write_exact(int fd, int64_t offset, const void* data, std::size_t size);

// Reads up to `size` bytes at `offset`; how many were read (fewer only at the end or an error).
[[nodiscard]] std::size_t read_some(int fd, int64_t offset, void* out, std::size_t size);

// Replaces the file at `path` with `bytes`: they are written to "<path>.tmp" first, which is then
// renamed over the file, so a failure on the way (a full disk, no permission) leaves the old
// file as it was. False on any failure; the temporary file is removed then.
[[nodiscard]] bool replace_file(const std::string& path, std::string_view bytes);

// Opens `path` with `flags` (O_RDONLY or O_RDWR, O_CREAT allowed) only when it is, or becomes,
// a regular file: a FIFO, a device such as /dev/zero, a socket or a folder is refused without
// blocking and without being read (-1, errno EINVAL). The descriptor is blocking and
// close-on-exec; -1 with errno for any other failure.
[[nodiscard]] int open_regular(const std::string& path, int flags);
// The same, as a stdio stream for reading; null when refused or missing.
[[nodiscard]] std::FILE* fopen_regular(const std::string& path);
// Whether something other than a regular file (a FIFO, a device, a folder) is at `path`.
[[nodiscard]] bool is_special_file(const std::string& path);

// Writes all of `bytes` to `fd` at its current position, carrying on after interruptions and
// short writes; false when the file takes fewer (a full disk, an error).
[[nodiscard]] bool write_all(int fd, std::string_view bytes);

// Creates or truncates the file at `path` and writes `bytes` to it. False on any failure.
[[nodiscard]] bool write_file(const std::string& path, std::string_view bytes);

}  // namespace tarnvelox::base
