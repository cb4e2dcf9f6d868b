#include "platform/file_writer.h"

#include <sys/random.h>

#include <optional>
#include <utility>

#include "platform/regular_file.h"

namespace kit::platform {

namespace {

// rename() replaces a link or a FIFO at the name without a word: what is
// there is judged first, without following it.
bool replaceable(const std::string& path) {
    struct stat named {};
    if (::lstat(path.c_str(), &named) == 0) return S_ISREG(named.st_mode);
    return errno == ENOENT && !path.empty();
}

// The folder part of path with its "/", so the temporary file lands beside
// the file it replaces and rename() never crosses file systems.
std::string folder_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::optional<std::string> random_name() {
    unsigned char random[8];
    ssize_t n = -1;
    do {
        n = ::getrandom(random, sizeof random, 0);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof random)) return std::nullopt;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name = ".kit-";
    for (const unsigned char byte : random) {
        name += kHex[byte >> 4];
        name += kHex[byte & 0x0F];
    }
    return name + ".tmp";
}

}  // namespace

FileWriter::FileWriter(std::string path, Sync sync) : path_(std::move(path)), sync_(sync) {
    if (!replaceable(path_)) return;
    const std::string folder = folder_of(path_);
    // O_EXCL: a name someone made in the meantime is never used, link or not.
    struct stat made {};
    for (int attempt = 0; attempt < 8 && fd_ < 0; ++attempt) {
        const auto name = random_name();
        if (!name) return;
        temporary_ = folder + *name;
        fd_ = open_regular_file(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666, &made);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ >= 0) {
        device_ = made.st_dev;
        inode_ = made.st_ino;
        return;
    }
    temporary_.clear();
}

FileWriter::~FileWriter() { discard(); }

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
    const bool synced = !failed_ && (sync_ == Sync::skip || ::fsync(fd_) == 0);
    const bool closed = ::close(std::exchange(fd_, -1)) == 0;
    if (synced && closed && replaceable(path_) && ::rename(temporary_.c_str(), path_.c_str()) == 0) {
        temporary_.clear();
        return true;
    }
    remove_temporary();
    return false;
}

void FileWriter::discard() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    remove_temporary();
}

void FileWriter::remove_temporary() {
    if (temporary_.empty()) return;
    struct stat named {};
    // Only what this writer made may go, never a file that replaced it since.
    if (::lstat(temporary_.c_str(), &named) == 0 && S_ISREG(named.st_mode) && named.st_dev == device_ &&
        named.st_ino == inode_)
        ::unlink(temporary_.c_str());
    temporary_.clear();
}

WriteResult write_file(const std::string& path, std::span<const unsigned char> bytes, Sync sync) {
    FileWriter file(path, sync);
    if (!file.is_open()) return WriteResult::not_opened;
    if (!file.write(bytes)) {
        file.discard();
        return WriteResult::not_written;
    }
    return file.finish() ? WriteResult::written : WriteResult::not_written;
}

}  // namespace kit::platform
