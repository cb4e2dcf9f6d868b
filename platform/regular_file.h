// Opening the kit's own files: a FIFO, a device or a directory planted at
// one of their names is refused at once, never waited on (a FIFO with no
// reader would block an open for writing forever). Header-only, so the
// trace library, which links nothing of the kit, opens its log the same way.
#ifndef KIT_PLATFORM_REGULAR_FILE_H
#define KIT_PLATFORM_REGULAR_FILE_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kit::platform {

// open(path, flags, mode) that keeps the descriptor only when it names a
// regular file, then in blocking mode; a terminal never becomes the
// process's controlling one. -1 otherwise, errno set: open's own where open
// already refuses (ELOOP for a link under O_NOFOLLOW, ENXIO for a FIFO
// with no reader opened to write, EISDIR for a directory opened to write),
// else EINVAL.
inline int open_regular_file(const char* path, int flags, mode_t mode = 0) noexcept {
    int fd = -1;
    do {
        fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat info {};
    const int status = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? ::fcntl(fd, F_GETFL) : -1;
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

}  // namespace kit::platform

#endif
