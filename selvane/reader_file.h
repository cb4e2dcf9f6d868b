// "sisreader.txt": the name of the last reader opened successfully, exactly
// as the host passed it, without a line end, in the application-data
// directory.
#ifndef SELVANE_READER_FILE_H
#define SELVANE_READER_FILE_H

#include <filesystem>
#include <string_view>

namespace selvane {

inline constexpr std::string_view kReaderFileName = "sisreader.txt";

// $APPDATA when it names an existing directory, else the current directory.
std::filesystem::path application_data_directory();
// Rewrites the file; a file that cannot be written is skipped silently.
void remember_reader(std::string_view reader);

}  // namespace selvane

#endif
