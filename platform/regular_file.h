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
// regular file; a terminal never becomes the process's controlling one.
// The open is non-blocking, so a FIFO or device at the name is refused at
// once (O_CREAT | O_EXCL needs no such care: it makes a new file or
// nothing). A descriptor opened to write is then put back in blocking mode,
// as the trace library hands its log's to hosts; one opened to read only is
// left as it is, which a regular file ignores. *info, when given, receives
// the file's status. -1 otherwise, errno set: open's own where open already
// refuses (ELOOP for a link under O_NOFOLLOW, ENXIO for a FIFO with no
// reader opened to write, EISDIR for a directory opened to write, EEXIST
// under O_EXCL), else EINVAL.
inline int open_regular_file(const char* path, int flags, mode_t mode = 0, struct stat* info = nullptr) noexcept {
    const bool makes_new = (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL);
    const int no_wait = makes_new ? 0 : O_NONBLOCK;
    int fd = -1;
    do {
        fd = ::open(path, flags | no_wait | O_CLOEXEC | O_NOCTTY, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat status {};
    bool kept = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (kept && no_wait != 0 && (flags & O_ACCMODE) != O_RDONLY) {
        const int file_flags = ::fcntl(fd, F_GETFL);
        kept = file_flags >= 0 && ::fcntl(fd, F_SETFL, file_flags & ~O_NONBLOCK) == 0;
    }
    if (!kept) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    if (info != nullptr) *info = status;
    return fd;
}

}  // namespace kit::platform

#endif
