#include "platform/file_reader.h"

#include "platform/regular_file.h"

namespace kit::platform {

std::optional<std::string> read_regular_file(const std::string& path, std::size_t max_size) {
    const int fd = open_regular_file(path.c_str(), O_RDONLY);
    if (fd < 0) return std::nullopt;
    std::string text;
    char chunk[4096];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
        if (text.size() > max_size) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    return text;
}

}  // namespace kit::platform
