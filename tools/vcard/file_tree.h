// The card's files: dedicated files (directories) and elementary files,
// each named by a 2-byte file identifier.
#ifndef KIT_VCARD_FILE_TREE_H
#define KIT_VCARD_FILE_TREE_H

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "tools/vcard/hex.h"

namespace vcard {

struct FileNode {
    uint16_t fid = 0;
    bool dedicated = false;
    Bytes content;
    FileNode* parent = nullptr;
    std::vector<std::unique_ptr<FileNode>> children;
};

class FileTree {
public:
    FileTree();  // a master file 3F00 and nothing else

    // Puts an elementary file at a path of FIDs from the master file
    // ("3F00/DF01/4031"), making the dedicated files on the way. false for a
    // malformed path.
    bool put(std::string_view path, Bytes content);

    // SELECT by FID from the current directory: a child of the current DF,
    // a child of its parent, or the master file. null when not found; the
    // selection then stays as it was.
    const FileNode* select(uint16_t fid);
    const FileNode* current_file() const { return current_ef_; }
    void reset();  // back to the master file, no current EF

private:
    FileNode* child_of(FileNode* dir, uint16_t fid);

    std::unique_ptr<FileNode> root_;
    FileNode* current_df_;
    FileNode* current_ef_ = nullptr;
};

}  // namespace vcard

#endif
