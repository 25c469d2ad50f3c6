#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// What tells one file from another whatever names it has: its device and inode.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;

    bool isKnown() const { return device != 0 || inode != 0; }
    bool operator==(const FileIdentity& other) const
    {
        return device == other.device && inode == other.inode;
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// The identity of the file open as fd when it is a regular file that has no other name
// than the one it was opened by; nothing otherwise. A second name would be a hard link
// someone else holds, through which they would see or change what is written.
std::optional<FileIdentity> soleFileIdentity(int fd);

// The identity of the file open as fd when it is a regular file that has no name at all,
// as makeUnnamed() gives; nothing otherwise.
std::optional<FileIdentity> unnamedFileIdentity(int fd);

// Opens the file open as fd anew, for reading: an opening of its own, with an offset of its
// own, to which the system tells a failed write to the disk as it does to every opening.
// Returns the new descriptor, or -1 with errno set.
int reopenFile(int fd);

// Gives the file open as fd, which has no name, the name to in the folder open as folderFd;
// never replaces a name (EEXIST). Returns 0 or the system's error number. It touches only
// its arguments, so the disk worker may call it with descriptors of its own.
int linkOpenFile(int folderFd, int fd, const QByteArray& to);

// A folder held open by its descriptor. Whatever is made, opened, renamed, removed or
// synced in it happens in the folder that was walked to and checked, even when its path
// has since been made to lead somewhere else.
class HeldFolder
{
public:
    HeldFolder() = default;
    HeldFolder(HeldFolder&& other) noexcept;
    HeldFolder& operator=(HeldFolder&& other) noexcept;
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;
    ~HeldFolder();

    // The folder at path, links on the way followed: a folder the user chose. Not open when
    // it cannot be opened; errno then says why.
    static HeldFolder open(const QString& path);
    // The folder name inside this one, never through a link. Not open when it cannot be
    // opened; errno then says why.
    HeldFolder inside(const QByteArray& name) const;
    // This folder held a second time, while it is still a folder with a name: not open
    // once it has been removed, or when the system gives no descriptor.
    HeldFolder again() const;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // The folder's own identity; not known, with errno set, when it cannot be had.
    FileIdentity identity() const;
    // Whether anything, a dangling link or something unreadable included, stands under name.
    bool holds(const QByteArray& name) const;
    // The identity of the regular file under name, never through a link.
    std::optional<FileIdentity> identityOf(const QByteArray& name) const;
    // Removes name only while it is the file identity. Returns whether it did.
    bool removeIf(const QByteArray& name, FileIdentity identity) const;
    // Gives the file from the name to, which must be free: nothing is ever replaced.
    // Returns 0 or the system's error number, EEXIST when to is taken.
    int renameFree(const QByteArray& from, const QByteArray& to) const;
    // A file with no name yet in this folder's file system, open for writing, that goes
    // away when closed unless link() gives it one first. -1 when the file system or the
    // system cannot make one; errno then says why.
    int makeUnnamed() const;
    // Gives the file open as fd the name to, which must be free: EEXIST when taken.
    // Returns 0 or the system's error number.
    int link(int fd, const QByteArray& to) const;
    // Makes the names made or changed in it last; returns 0 or the system's error number.
    int sync() const;
    // A descriptor of its own for this folder, to be synced elsewhere (the disk worker),
    // with the folder's identity; -1 with errno set when it cannot be had.
    int syncHandle(FileIdentity& identity) const;

private:
    explicit HeldFolder(int fd) : fd_(fd) {}
    void close();

    int fd_ = -1;
};
