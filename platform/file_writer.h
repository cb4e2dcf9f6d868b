// Files the kit makes and reads back later (certificates, photos, the
// remembered reader) are replaced whole: written under a temporary name in
// their own folder, then renamed over their name, so a failed write leaves
// the previous file as it was. Only a regular file at the name is replaced:
// a symbolic link, a FIFO, a device or a directory planted there is refused
// and left as it is, and a failed write, close or rename is reported.
#ifndef KIT_PLATFORM_FILE_WRITER_H
#define KIT_PLATFORM_FILE_WRITER_H

#include <sys/types.h>

#include <span>
#include <string>

namespace kit::platform {

// Whether the bytes reach the disk before the file takes its name. Only a
// file that a later run relies on asks for it (the remembered reader): a
// power loss could otherwise leave its name empty. The others skip the
// cost: certificates are read back within the same transaction, a photo is
// made anew by each read, and the rename alone makes a replacement whole
// for every reader.
enum class Sync { skip, before_rename };

// One file being replaced: open when the name holds a regular file or
// nothing and a temporary file could be made beside it. The temporary file
// is removed unless finish() put it in place.
class FileWriter {
public:
    explicit FileWriter(std::string path, Sync sync = Sync::skip);
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    bool is_open() const { return fd_ >= 0; }
    // Writes all the bytes; false (and every later write fails) when one
    // could not be written.
    bool write(std::span<const unsigned char> bytes);
    // Puts the file in place of its name: true when it was open and every
    // write, the close and the rename succeeded. Otherwise the name keeps
    // what it held.
    bool finish();
    // Drops what was written; the name keeps what it held.
    void discard();

private:
    void remove_temporary();

    std::string path_;
    std::string temporary_;
    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool failed_ = false;
    Sync sync_;
};

enum class WriteResult { written, not_opened, not_written };

// The whole file in one call; a file that could not be written whole
// leaves the previous one (not_written).
WriteResult write_file(const std::string& path, std::span<const unsigned char> bytes, Sync sync = Sync::skip);

}  // namespace kit::platform

#endif
