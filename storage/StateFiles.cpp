// SPDX-License-Identifier: MIT
#include "StateFiles.h"

#include "StoreFailure.h"

#include <QFile>

#include <sodium.h>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storage {

namespace {

constexpr mode_t kFileMode = 0600;
constexpr mode_t kDirMode = 0700;

template <class F> auto retryOnInterrupt(F&& f)
{
    for (;;) {
        const auto r = f();
        if (r >= 0 || errno != EINTR)
            return r;
    }
}

[[noreturn]] void failSystem(const QByteArray& path, const char* what, int error)
{
    failIo(QStringLiteral("%1: cannot %2: %3").arg(shown(path), QLatin1String(what), systemError(error)));
}

void writeAll(int fd, const QByteArray& bytes, const QByteArray& path)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = retryOnInterrupt([&] { return ::write(fd, p, static_cast<size_t>(left)); });
        if (n < 0)
            failSystem(path, "write", errno);
        // A write that makes no progress without an error cannot be waited out.
        if (n == 0)
            failSystem(path, "write", ENOSPC);
        p += n;
        left -= n;
    }
}

// A name for the temporary file beside `name`, unguessable so that nothing else in
// the directory is ever taken for it.
QByteArray temporaryName(const QByteArray& name)
{
    unsigned char random[6];
    randombytes_buf(random, sizeof random);
    return name + '.' + QByteArray(reinterpret_cast<const char*>(random), sizeof random).toHex();
}

} // namespace

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

Fd::~Fd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int Fd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

QString shown(const QByteArray& path)
{
    return QFile::decodeName(path);
}

QString systemError(int error)
{
    return qt_error_string(error);
}

PathParts splitPath(const QByteArray& path)
{
    QByteArray trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith('/'))
        trimmed.chop(1);
    const qsizetype slash = trimmed.lastIndexOf('/');
    if (slash < 0)
        return {QByteArray("."), trimmed};
    return {slash == 0 ? QByteArray("/") : trimmed.left(slash), trimmed.mid(slash + 1)};
}

QByteArray joinPath(const QByteArray& dir, const QByteArray& name)
{
    return dir.endsWith('/') ? dir + name : dir + '/' + name;
}

std::optional<Fd> openDirectory(const QByteArray& path)
{
    Fd dir(retryOnInterrupt([&] { return ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (dir.isOpen())
        return dir;
    if (errno == ENOENT)
        return std::nullopt;
    if (errno == ENOTDIR)
        failIo(QStringLiteral("%1: not a directory").arg(shown(path)));
    failSystem(path, "open the directory", errno);
}

Fd openStateDirectory(const QByteArray& path, QStringList& warnings)
{
    if (std::optional<Fd> existing = openDirectory(path)) {
        struct stat st
        {
        };
        if (::fstat(existing->get(), &st) != 0)
            failSystem(path, "examine the directory", errno);
        const uid_t me = ::geteuid();
        if ((st.st_mode & S_ISVTX) != 0 || (st.st_uid != me && (st.st_mode & 022) != 0))
            failIo(QStringLiteral("%1 is a shared directory (mode %2%3): a state directory must be a "
                                  "directory of its own; nothing was changed")
                       .arg(shown(path))
                       .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'))
                       .arg((st.st_mode & S_ISVTX) != 0
                                ? QStringLiteral(", sticky")
                                : QStringLiteral(", owned by user %1").arg(st.st_uid)));
        if (st.st_uid != me && me != 0)
            failIo(QStringLiteral("%1 belongs to user %2: only that user or root may write it; nothing was "
                                  "changed")
                       .arg(shown(path))
                       .arg(st.st_uid));
        if ((st.st_mode & 077) != 0 && st.st_uid == me) {
            if (::fchmod(existing->get(), kDirMode) != 0)
                failSystem(path, "make the state directory owner-only", errno);
            warnings << QStringLiteral("the state directory %1 was open to others (mode %2); it is now "
                                       "owner-only (0700)")
                            .arg(shown(path))
                            .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
        }
        return std::move(*existing);
    }
    // Missing: create it and any missing parent, owner-only whatever the umask.
    const PathParts parts = splitPath(path);
    if (parts.dir != path && !openDirectory(parts.dir)) {
        QStringList ignored; // a parent made here is new: nothing to tighten
        openStateDirectory(parts.dir, ignored);
    }
    if (::mkdir(path.constData(), kDirMode) != 0 && errno != EEXIST)
        failSystem(path, "create the state directory", errno);
    std::optional<Fd> created = openDirectory(path);
    if (!created)
        failSystem(path, "open the directory", ENOENT);
    if (::fchmod(created->get(), kDirMode) != 0)
        failSystem(path, "make the state directory owner-only", errno);
    if (const std::optional<Fd> parent = openDirectory(parts.dir))
        giveToDirectoryOwner(parent->get(), created->get(), path);
    return std::move(*created);
}

std::optional<FileRead> readStateFile(int dir, const QByteArray& name, const QByteArray& path,
                                      qint64 maxBytes)
{
    // Non-blocking, so that a FIFO cannot hold the open; O_NOFOLLOW, so that a link
    // cannot lead the read elsewhere.
    FileRead file;
    file.fd = Fd(retryOnInterrupt(
        [&] { return ::openat(dir, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }));
    if (!file.fd.isOpen()) {
        if (errno == ENOENT)
            return std::nullopt;
        if (errno == ELOOP)
            failBadFile(QStringLiteral("%1: is a symbolic link; stored files must be regular files")
                            .arg(shown(path)));
        if (errno == ENXIO) // a socket
            failBadFile(QStringLiteral("%1: not a regular file").arg(shown(path)));
        failSystem(path, "open", errno);
    }
    struct stat st
    {
    };
    if (::fstat(file.fd.get(), &st) != 0)
        failSystem(path, "examine", errno);
    if (!S_ISREG(st.st_mode))
        failBadFile(QStringLiteral("%1: not a regular file").arg(shown(path)));
    if (st.st_size > maxBytes)
        failBadFile(QStringLiteral("%1: too large (%2 bytes; at most %3)")
                        .arg(shown(path))
                        .arg(st.st_size)
                        .arg(maxBytes));
    file.mode = st.st_mode;

    file.bytes.resize(static_cast<qsizetype>(st.st_size));
    qsizetype got = 0;
    while (got < file.bytes.size()) {
        const ssize_t n = retryOnInterrupt([&] {
            return ::read(file.fd.get(), file.bytes.data() + got,
                          static_cast<size_t>(file.bytes.size() - got));
        });
        if (n < 0)
            failSystem(path, "read", errno);
        if (n == 0)
            break;
        got += n;
    }
    file.bytes.truncate(got);
    return file;
}

void giveToDirectoryOwner(int dir, int fd, const QByteArray& path)
{
    if (::geteuid() != 0)
        return;
    struct stat st
    {
    };
    if (::fstat(dir, &st) != 0)
        failSystem(path, "examine the directory of", errno);
    if (st.st_uid != 0 && ::fchown(fd, st.st_uid, st.st_gid) != 0)
        failSystem(path, "give to the directory's owner", errno);
}

PendingFile::PendingFile(int dir, QByteArray name, QByteArray path, const QByteArray& bytes)
    : m_dir(dir)
    , m_name(std::move(name))
    , m_path(std::move(path))
    , m_temporary(temporaryName(m_name))
{
    // Written by hand rather than with QSaveFile: QSaveFile takes the path as a
    // QString, so a file name that is not valid UTF-8 cannot be named, and in the Qt
    // in use a write that fails inside commit() (a full disk) is not reported.
    Fd fd(retryOnInterrupt([&] {
        return ::openat(dir, m_temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        kFileMode);
    }));
    if (!fd.isOpen())
        failSystem(m_path, "create a temporary file for", errno);
    try {
        // The mode given to openat is narrowed by the umask only; set it outright.
        if (::fchmod(fd.get(), kFileMode) != 0)
            failSystem(m_path, "make the file owner-only", errno);
        giveToDirectoryOwner(dir, fd.get(), m_path);
        writeAll(fd.get(), bytes, m_path);
        if (::fsync(fd.get()) != 0)
            failSystem(m_path, "sync", errno);
        if (::close(fd.release()) != 0)
            failSystem(m_path, "close", errno);
    } catch (...) {
        // No destructor runs for an object that was never built.
        ::unlinkat(dir, m_temporary.constData(), 0);
        throw;
    }
    m_pending = true;
}

PendingFile::~PendingFile()
{
    if (m_pending)
        ::unlinkat(m_dir, m_temporary.constData(), 0);
}

void PendingFile::commit()
{
    if (::renameat(m_dir, m_temporary.constData(), m_dir, m_name.constData()) != 0)
        failSystem(m_path, "replace", errno);
    m_pending = false;
}

bool PendingFile::commitIfAbsent()
{
    // A hard link never replaces: when another file took the name first, keep it.
    if (::linkat(m_dir, m_temporary.constData(), m_dir, m_name.constData(), 0) != 0) {
        if (errno == EEXIST)
            return false;
        failSystem(m_path, "create", errno);
    }
    return true; // the temporary name goes with the object
}

void syncDirectory(int dir, const QByteArray& path)
{
    if (::fsync(dir) != 0)
        failSystem(path, "sync the directory", errno);
}

QList<QByteArray> temporaries(int dir, const QByteArray& dirPath, const QList<QByteArray>& names)
{
    const int scan = ::dup(dir);
    if (scan < 0)
        failSystem(dirPath, "list", errno);
    DIR* listing = ::fdopendir(scan);
    if (!listing) {
        ::close(scan);
        failSystem(dirPath, "list", errno);
    }
    ::rewinddir(listing);
    QList<QByteArray> stale;
    while (const dirent* entry = ::readdir(listing)) {
        const QByteArray entryName(entry->d_name);
        for (const QByteArray& name : names) {
            if (entryName.size() > name.size() + 1 && entryName.startsWith(name + '.'))
                stale << entryName;
        }
    }
    ::closedir(listing);
    QList<QByteArray> files;
    for (const QByteArray& entryName : stale) {
        struct stat st
        {
        };
        if (::fstatat(dir, entryName.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            files << entryName;
    }
    return files;
}

void removeTemporaries(int dir, const QByteArray& dirPath, const QList<QByteArray>& names)
{
    const QList<QByteArray> stale = temporaries(dir, dirPath, names);
    for (const QByteArray& entryName : stale) {
        if (::unlinkat(dir, entryName.constData(), 0) != 0 && errno != ENOENT)
            failSystem(joinPath(dirPath, entryName), "remove the stale temporary file", errno);
    }
    if (!stale.isEmpty())
        syncDirectory(dir, dirPath);
}

} // namespace storage
