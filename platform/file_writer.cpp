#include "platform/file_writer.h"

#include <utility>

#include "platform/regular_file.h"

namespace kit::platform {

FileWriter::FileWriter(std::string path) : path_(std::move(path)) {
    fd_ = open_regular_file(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
}

FileWriter::~FileWriter() {
    if (fd_ >= 0) ::close(fd_);
}

bool FileWriter::write(std::span<const unsigned char> bytes) {
    if (fd_ < 0 || failed_) return false;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

bool FileWriter::finish() {
    if (fd_ < 0) return false;
    const bool closed = ::close(std::exchange(fd_, -1)) == 0;
    return closed && !failed_;
}

void FileWriter::discard() {
    if (fd_ < 0) return;
    struct stat opened {};
    struct stat named {};
    // Only what this writer made may go: never a device or a file that
    // replaced it since.
    if (::fstat(fd_, &opened) == 0 && ::lstat(path_.c_str(), &named) == 0 && S_ISREG(named.st_mode) &&
        opened.st_dev == named.st_dev && opened.st_ino == named.st_ino)
        ::unlink(path_.c_str());
    ::close(std::exchange(fd_, -1));
}

WriteResult write_file(const std::string& path, std::span<const unsigned char> bytes) {
    FileWriter file(path);
    if (!file.is_open()) return WriteResult::not_opened;
    if (!file.write(bytes)) {
        file.discard();
        return WriteResult::not_written;
    }
    return file.finish() ? WriteResult::written : WriteResult::not_written;
}

}  // namespace kit::platform
