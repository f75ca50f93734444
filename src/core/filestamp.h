#pragma once

#include <QString>

#include <cstdint>

namespace airmesh {
inline namespace core {

// What identifies one version of a file on disk cheaply: a file replaced by rename gets a new
// identity, an edit in place a new time or size. exists is false for a missing file.
struct FileStamp {
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::int64_t ctimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp fileStamp(const QString& path);

// Replaces `path` with `bytes` so that readers see either the old file or the whole new one.
// A file that did not exist is created readable and writable by its owner only; an existing
// file keeps its permissions. Returns false, leaving the file as it was, on any failure.
bool replaceFileAtomically(const QString& path, const QByteArray& bytes);

} // namespace core
} // namespace airmesh
