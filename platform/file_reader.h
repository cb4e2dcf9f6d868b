// Reading back a small file the kit wrote, on the same terms as writing it:
// only a regular file, and never waiting on a FIFO planted at its name.
#ifndef KIT_PLATFORM_FILE_READER_H
#define KIT_PLATFORM_FILE_READER_H

#include <cstddef>
#include <optional>
#include <string>

namespace kit::platform {

// The whole file; nothing when it cannot be opened or read, is not a
// regular file, or holds more than max_size bytes.
std::optional<std::string> read_regular_file(const std::string& path, std::size_t max_size);

}  // namespace kit::platform

#endif
