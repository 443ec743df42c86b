#pragma once

// The file system calls made on device volumes and the data folder, with a
// hook that may fail them or change what a read returns. The simulated
// platform installs one to play faults of a device's storage; without a hook
// each wrapper is the system call after one relaxed atomic load.
//
// What a hook sees, per call, with the absolute path of the file (resolved
// through /proc/self/fd, only while a hook is installed):
//   Write    write(2), pwrite(2)                 before the call
//   Read     read(2), pread(2)                   before the call, and afterRead() once it gave bytes
//   Fsync    fsync(2), fdatasync(2), syncfs(2)   before the call
//   Rename   rename(2), renameat(2), renameat2   before the call, with the new path
//   Create   open/openat with O_CREAT            before the call, with the new file's path
// A hook answers 0 to let the call run or an errno to fail it (the call is
// then not made and returns -1 with errno set). afterRead() may change the
// bytes read, or fail the read after all with an errno (the bytes are then
// lost, as from a device that went away during the transfer).

#include <QByteArray>

#include <memory>

#include <sys/types.h>

namespace VHSys {

enum class Op { Write, Read, Fsync, Rename, Create };

class FaultHook
{
public:
    virtual ~FaultHook() = default;
    virtual int before(Op op, const QByteArray &path) = 0;
    virtual int afterRead(const QByteArray &path, char *data, size_t size) = 0;
};

// Replaces the hook (nullptr removes it). Calls running on other threads
// finish with the hook they started with.
void installFaultHook(std::shared_ptr<FaultHook> hook);
std::shared_ptr<FaultHook> faultHook();
bool hasFaultHook();

// The absolute path an open descriptor names, or empty.
QByteArray pathOfFd(int fd);
// The absolute path of `name` relative to the folder `dirFd` (or AT_FDCWD).
QByteArray pathAt(int dirFd, const char *name);

ssize_t write(int fd, const void *data, size_t size);
ssize_t pwrite(int fd, const void *data, size_t size, off_t offset);
ssize_t read(int fd, void *data, size_t size);
ssize_t pread(int fd, void *data, size_t size, off_t offset);
int fsync(int fd);
int fdatasync(int fd);
int syncfs(int fd);
int rename(const char *oldPath, const char *newPath);
int renameat(int oldDirFd, const char *oldName, int newDirFd, const char *newName);
int renameat2(int oldDirFd, const char *oldName, int newDirFd, const char *newName, unsigned int flags);
int open(const char *path, int flags, mode_t mode = 0);
int openat(int dirFd, const char *name, int flags, mode_t mode = 0);

} // namespace VHSys
