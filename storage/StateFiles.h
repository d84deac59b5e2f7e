// SPDX-License-Identifier: MIT
#pragma once

// File access of the state directory, on descriptors and byte paths.
//
// Every file is opened relative to an open directory, without following a final
// symbolic link and without blocking, and judged on the open descriptor (fstat), so
// what is checked is what is read. Reads are bounded before the first byte is read.
// Writes go to a temporary file that is written, checked, synced and renamed over
// the stored one, and the directory is synced after. Failures throw StoreFailure.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>

namespace storage {

// An owned file descriptor, closed when it goes.
class Fd
{
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    {}
    Fd(Fd&& other) noexcept
        : m_fd(other.release())
    {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    int release();

private:
    int m_fd = -1;
};

// A path as it reads in a message (the bytes decoded as a file name).
QString shown(const QByteArray& path);
// The system's description of an error number.
QString systemError(int error);

// "a/b/c" -> {"a/b", "c"}; "c" -> {".", "c"}; "/c" -> {"/", "c"}.
struct PathParts
{
    QByteArray dir;
    QByteArray name;
};
PathParts splitPath(const QByteArray& path);
QByteArray joinPath(const QByteArray& dir, const QByteArray& name);

// Opens an existing directory (it may be a symbolic link); nullopt when it is missing.
std::optional<Fd> openDirectory(const QByteArray& path);
// Opens the state directory to write it, creating it and missing parents (0700) when
// missing. A directory of the caller's own that others can enter is tightened to 0700
// with a warning. A shared directory (sticky, or another user's that others may
// write) is refused, and so is another user's directory unless the caller is root.
Fd openStateDirectory(const QByteArray& path, QStringList& warnings);

// Root repairing a user's state directory: a file it creates there is given to the
// directory's owner, so that the user can still open it. Nothing for anyone else.
void giveToDirectoryOwner(int dir, int fd, const QByteArray& path);

struct FileRead
{
    QByteArray bytes;
    Fd fd;
    mode_t mode = 0;
};
// Reads `name` in `dir` whole; nullopt when there is no such file. A symbolic link,
// anything but a regular file, or a file over `maxBytes` is refused (bad stored
// file); a read error is an I/O error.
std::optional<FileRead> readStateFile(int dir, const QByteArray& name, const QByteArray& path,
                                      qint64 maxBytes);

// A file written in full beside the one it replaces, not yet in its place. Writing
// all files of a store first means a full disk leaves every stored file untouched.
// Removed when it goes without being committed.
class PendingFile
{
public:
    // Writes, checks and syncs `bytes` (mode 0600) into a temporary file in `dir`.
    PendingFile(int dir, QByteArray name, QByteArray path, const QByteArray& bytes);
    PendingFile(PendingFile&&) = delete;
    ~PendingFile();

    // Renames it over `name`; the caller syncs the directory (syncDirectory).
    void commit();
    // Links it as `name` unless that exists; false (and nothing changed) when it does.
    bool commitIfAbsent();
    // Leaves it under its temporary name when it goes, for the next lock() to finish.
    void keep() { m_pending = false; }

private:
    int m_dir;
    QByteArray m_name;
    QByteArray m_path;
    QByteArray m_temporary;
    bool m_pending = false;
};

// Makes the renames of committed files durable.
void syncDirectory(int dir, const QByteArray& path);

// Removes what an interrupted store left: "<name>.<anything>" for each of `names`.
void removeTemporaries(int dir, const QByteArray& dirPath, const QList<QByteArray>& names);
// The temporary files of `names` that a store left behind, regular files only.
QList<QByteArray> temporaries(int dir, const QByteArray& dirPath, const QList<QByteArray>& names);

} // namespace storage
