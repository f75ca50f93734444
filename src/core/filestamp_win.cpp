#include "filestamp.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <string>
#include <windows.h>

namespace airmesh {
inline namespace core {

namespace {

std::wstring nativePath(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

std::int64_t fileTimeNs(const FILETIME& t) {
    const std::uint64_t ticks = (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return static_cast<std::int64_t>(ticks) * 100; // 100 ns ticks
}

// Closes a handle when it goes out of scope.
struct HandleCloser {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~HandleCloser() {
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
};

} // namespace

FileStamp fileStamp(const QString& path) {
    // Opened for its attributes only, sharing everything: another program's open file is
    // stamped too, and never locked by this.
    HandleCloser file{CreateFileW(nativePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr)};
    BY_HANDLE_FILE_INFORMATION info{};
    if (file.h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file.h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {};
    }
    FileStamp s;
    s.exists = true;
    s.device = info.dwVolumeSerialNumber;
    s.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    s.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    s.mtimeNs = fileTimeNs(info.ftLastWriteTime);
    // Windows has no change time; the creation time changes when a file is replaced by rename.
    s.ctimeNs = fileTimeNs(info.ftCreationTime);
    return s;
}

bool replaceFileAtomically(const QString& path, const QByteArray& bytes) {
    const std::wstring target = nativePath(QFileInfo(path).absoluteFilePath());
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    // A read-only file is refused, as a write into it fails anywhere else.
    if (existed && ((attributes & FILE_ATTRIBUTE_READONLY) != 0 || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
        return false;
    }
    // The new text goes to a temporary file beside the target, reaches the disk, and only then
    // takes the target's name: a crash or a full disk never leaves a half-written file.
    std::wstring temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temp = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt) + L".tmp";
        file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            return false;
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = true;
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (ok && left > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<qsizetype>(left, 1 << 20));
        DWORD written = 0;
        ok = WriteFile(file, p, chunk, &written, nullptr) && written > 0;
        p += written;
        left -= written;
    }
    ok = ok && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    if (ok && existed) {
        // ReplaceFileW keeps the target's attributes and access list on the new file.
        ok = ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
    } else if (ok) {
        ok = MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    }
    if (!ok) {
        DeleteFileW(temp.c_str());
    }
    return ok;
}

} // namespace core
} // namespace airmesh
