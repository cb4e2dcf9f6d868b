#include "tools/vcard/file_tree.h"

#include <string>

namespace vcard {

namespace {
constexpr uint16_t kMasterFile = 0x3F00;
}

FileTree::FileTree() : root_(std::make_unique<FileNode>()), current_df_(root_.get()) {
    root_->fid = kMasterFile;
    root_->dedicated = true;
}

FileNode* FileTree::child_of(FileNode* dir, uint16_t fid) {
    if (!dir) return nullptr;
    for (auto& child : dir->children)
        if (child->fid == fid) return child.get();
    return nullptr;
}

bool FileTree::put(std::string_view path, Bytes content) {
    std::vector<uint16_t> fids;
    while (!path.empty()) {
        const auto slash = path.find('/');
        const auto part = path.substr(0, slash);
        const auto bytes = from_hex(part);
        if (!bytes || bytes->size() != 2) return false;
        fids.push_back(static_cast<uint16_t>((*bytes)[0] << 8 | (*bytes)[1]));
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
    }
    if (fids.size() < 2 || fids.front() != kMasterFile) return false;
    FileNode* dir = root_.get();
    for (std::size_t i = 1; i + 1 < fids.size(); ++i) {
        FileNode* next = child_of(dir, fids[i]);
        if (!next) {
            auto made = std::make_unique<FileNode>();
            made->fid = fids[i];
            made->dedicated = true;
            made->parent = dir;
            next = made.get();
            dir->children.push_back(std::move(made));
        }
        if (!next->dedicated) return false;
        dir = next;
    }
    FileNode* file = child_of(dir, fids.back());
    if (!file) {
        auto made = std::make_unique<FileNode>();
        made->fid = fids.back();
        made->parent = dir;
        file = made.get();
        dir->children.push_back(std::move(made));
    }
    file->content = std::move(content);
    return true;
}

const FileNode* FileTree::select(uint16_t fid) {
    FileNode* found = fid == kMasterFile ? root_.get() : child_of(current_df_, fid);
    if (!found) found = child_of(current_df_->parent, fid);
    if (!found) return nullptr;
    if (found->dedicated) {
        current_df_ = found;
        current_ef_ = nullptr;
    } else {
        current_df_ = found->parent;
        current_ef_ = found;
    }
    return found;
}

void FileTree::reset() {
    current_df_ = root_.get();
    current_ef_ = nullptr;
}

}  // namespace vcard
