#include "base/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tarnvelox::base {

namespace {

// A lock taken on a file that was removed or replaced in the meantime locks nothing another
// program would look at: it is taken again on what the path names now, at most this often.
constexpr int kMaxLockTries = 3;

}  // namespace

FileLock::~FileLock() { unlock(); }

FileLock::FileLock(FileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        unlock();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

FileLock::Result FileLock::lock(const std::string& path) {
    if (held() && path == path_) return Result::Locked;
    unlock();
    for (int attempt = 0; attempt < kMaxLockTries; ++attempt) {
        // Not blocking while it is opened: a FIFO put there would wait for a writer.
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0) return Result::Failed;
        struct stat held_file {};
        if (::fstat(fd, &held_file) != 0 || !S_ISREG(held_file.st_mode)) {
            ::close(fd);
            return Result::Failed;
        }
        int taken = -1;
        do {
            taken = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (taken != 0 && errno == EINTR);
        if (taken != 0) {
            const bool busy = errno == EWOULDBLOCK;
            ::close(fd);
            return busy ? Result::Busy : Result::Failed;
        }
        struct stat named {};
        if (::stat(path.c_str(), &named) == 0 && named.st_dev == held_file.st_dev &&
            named.st_ino == held_file.st_ino) {
            fd_ = fd;
            path_ = path;
            return Result::Locked;
        }
        ::close(fd);  // the path names another file now: lock that one
    }
    return Result::Failed;
}

void FileLock::unlock() {
    if (fd_ >= 0) ::close(fd_);  // closing the only descriptor lets go of the lock
    fd_ = -1;
    path_.clear();
}

}  // namespace tarnvelox::base
