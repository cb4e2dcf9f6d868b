// Files the kit makes (certificates, photos, the remembered reader): never
// written through a symbolic link planted at their name, never anything but
// a regular file (a FIFO there is refused, not waited on), and a failed
// write or close is reported rather than lost.
#ifndef KIT_PLATFORM_FILE_WRITER_H
#define KIT_PLATFORM_FILE_WRITER_H

#include <span>
#include <string>

namespace kit::platform {

// One file opened for writing, created or emptied, that is not opened when
// its name is a symbolic link (O_NOFOLLOW) or anything but a regular file.
// Closed on destruction.
class FileWriter {
public:
    explicit FileWriter(std::string path);
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    bool is_open() const { return fd_ >= 0; }
    // Writes all the bytes; false (and every later write fails) when one
    // could not be written.
    bool write(std::span<const unsigned char> bytes);
    // Closes the file: true when it was open and every write and the close
    // succeeded.
    bool finish();
    // Closes the file and removes it when it is still the regular file this
    // writer opened, so a failed write leaves no partial file.
    void discard();

private:
    std::string path_;
    int fd_ = -1;
    bool failed_ = false;
};

enum class WriteResult { written, not_opened, not_written };

// The whole file in one call; a file that could not be written whole is
// discarded (not_written).
WriteResult write_file(const std::string& path, std::span<const unsigned char> bytes);

}  // namespace kit::platform

#endif
