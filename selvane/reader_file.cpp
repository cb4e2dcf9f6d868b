#include "selvane/reader_file.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <system_error>

namespace selvane {

namespace {
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
}  // namespace

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
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "w"));
    if (!file) return;
    std::fwrite(reader.data(), 1, reader.size(), file.get());
}

}  // namespace selvane
