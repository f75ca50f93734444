#include "filestamp.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace airmesh {
inline namespace core {

FileStamp fileStamp(const QString& path) {
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return {};
    }
    FileStamp s;
    s.exists = true;
    s.device = static_cast<std::uint64_t>(st.st_dev);
    s.inode = static_cast<std::uint64_t>(st.st_ino);
    s.size = static_cast<std::int64_t>(st.st_size);
    s.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.ctimeNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return s;
}

bool replaceFileAtomically(const QString& path, const QByteArray& bytes) {
    QByteArray target = QFile::encodeName(path);
    // A symbolic link is written through: renaming onto the link itself would turn it into a
    // plain file and leave the file it names behind, unchanged.
    struct stat lst {};
    if (::lstat(target.constData(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        if (char* real = ::realpath(target.constData(), nullptr)) {
            target = real;
            ::free(real);
        }
    }
    struct stat st {};
    const bool existed = ::stat(target.constData(), &st) == 0;
    // The rename below would replace even a file its owner made read-only; refuse instead, as
    // a write into such a file fails anywhere else.
    if (existed && ::access(target.constData(), W_OK) != 0) {
        return false;
    }
    const mode_t mode = existed ? (st.st_mode & 07777) : (S_IRUSR | S_IWUSR);

    // The new text goes to a temporary file beside the target, reaches the disk, and only
    // then takes the target's name: a crash or a full disk never leaves a half-written file.
    QByteArray temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0;
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            p += n;
            left -= n;
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) {
        ::unlink(temp.constData());
    }
    return ok;
}

} // namespace core
} // namespace airmesh
