#pragma once

// FileLock: an exclusive advisory lock (flock) on one file, held while the object holds it. The
// kernel lets go of it when the process ends in any way, a crash or kill -9 included, so a lock
// never outlives its holder; the locked file stays where it is. The descriptor is close-on-exec:
// a program started from here (a browser) never inherits the lock. Single-threaded; movable,
// not copyable.

#include <string>

namespace tarnvelox::base {

class FileLock {
public:
    enum class Result {
        Locked,  // held now
        Busy,    // another open of the file holds it (another process, or another FileLock)
        Failed,  // the file can neither be opened nor created (a read-only folder, a FIFO)
    };

    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;

    // Takes the lock on `path` without waiting, creating the file (empty) when missing. A lock
    // held already is let go of first, unless it is on the same path (then Locked at once).
    [[nodiscard]] Result lock(const std::string& path);
    void unlock();
    [[nodiscard]] bool held() const { return fd_ >= 0; }
    [[nodiscard]] const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace tarnvelox::base
