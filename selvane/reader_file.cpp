#include "selvane/reader_file.h"

#include <cstdlib>
#include <span>
#include <system_error>

#include "platform/file_writer.h"

namespace selvane {

std::filesystem::path application_data_directory() {
    std::error_code ec;
    if (const char* appdata = std::getenv("APPDATA"); appdata && *appdata) {
        if (std::filesystem::is_directory(appdata, ec)) return appdata;
    }
    auto cwd = std::filesystem::current_path(ec);
    return ec ? std::filesystem::path(".") : cwd;
}

void remember_reader(std::string_view reader) {
    const auto path = application_data_directory() / kReaderFileName;
    // Remembering is a convenience for the next start: a failure is not the
    // caller's. That start relies on the file, so it is synced.
    kit::platform::write_file(path, std::span(reinterpret_cast<const unsigned char*>(reader.data()), reader.size()),
                              kit::platform::Sync::before_rename);
}

}  // namespace selvane
