#include "VHSysCalls.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace VHSys {

namespace {

std::atomic<bool> g_hooked{false};
std::mutex g_hookMutex;
std::shared_ptr<FaultHook> g_hook;

// An absolute path with its folder's links resolved, so that it compares
// with what /proc/self/fd gives; the path itself when its folder is gone.
QByteArray resolvedPath(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return path;
    const QByteArray folder = slash == 0 ? QByteArray("/") : path.left(slash);
    char resolved[PATH_MAX];
    if (!::realpath(folder.constData(), resolved))
        return path;
    const QByteArray base(resolved);
    return (base == "/" ? QByteArray() : base) + path.mid(slash);
}

int refused(int error)
{
    errno = error;
    return -1;
}

ssize_t checkedRead(FaultHook &hook, const QByteArray &path, void *data, ssize_t n)
{
    const int error = hook.afterRead(path, static_cast<char *>(data), size_t(n));
    return error ? refused(error) : n;
}

} // namespace

void installFaultHook(std::shared_ptr<FaultHook> hook)
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_hook = std::move(hook);
    g_hooked.store(g_hook != nullptr, std::memory_order_relaxed);
}

std::shared_ptr<FaultHook> faultHook()
{
    if (!g_hooked.load(std::memory_order_relaxed))
        return {};
    std::lock_guard<std::mutex> lock(g_hookMutex);
    return g_hook;
}

bool hasFaultHook() { return g_hooked.load(std::memory_order_relaxed); }

QByteArray pathOfFd(int fd)
{
    char target[PATH_MAX];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
    return n > 0 ? QByteArray(target, n) : QByteArray();
}

QByteArray pathAt(int dirFd, const char *name)
{
    const QByteArray relative(name);
    if (relative.startsWith('/'))
        return resolvedPath(relative);
    QByteArray folder;
    if (dirFd == AT_FDCWD) {
        char cwd[PATH_MAX];
        folder = ::getcwd(cwd, sizeof cwd) ? QByteArray(cwd) : QByteArray();
    } else {
        folder = pathOfFd(dirFd);
    }
    return folder.isEmpty() ? relative : resolvedPath(folder + '/' + relative);
}

ssize_t write(int fd, const void *data, size_t size)
{
    if (const auto hook = faultHook(); hook) {
        if (const int error = hook->before(Op::Write, pathOfFd(fd)))
            return refused(error);
    }
    return ::write(fd, data, size);
}

ssize_t pwrite(int fd, const void *data, size_t size, off_t offset)
{
    if (const auto hook = faultHook(); hook) {
        if (const int error = hook->before(Op::Write, pathOfFd(fd)))
            return refused(error);
    }
    return ::pwrite(fd, data, size, offset);
}

ssize_t read(int fd, void *data, size_t size)
{
    const auto hook = faultHook();
    if (!hook)
        return ::read(fd, data, size);
    const QByteArray path = pathOfFd(fd);
    if (const int error = hook->before(Op::Read, path))
        return refused(error);
    const ssize_t n = ::read(fd, data, size);
    return n > 0 ? checkedRead(*hook, path, data, n) : n;
}

ssize_t pread(int fd, void *data, size_t size, off_t offset)
{
    const auto hook = faultHook();
    if (!hook)
        return ::pread(fd, data, size, offset);
    const QByteArray path = pathOfFd(fd);
    if (const int error = hook->before(Op::Read, path))
        return refused(error);
    const ssize_t n = ::pread(fd, data, size, offset);
    return n > 0 ? checkedRead(*hook, path, data, n) : n;
}

namespace {
template <typename Call>
int synced(int fd, Call call)
{
    if (const auto hook = faultHook(); hook) {
        if (const int error = hook->before(Op::Fsync, pathOfFd(fd)))
            return refused(error);
    }
    return call(fd);
}
} // namespace

int fsync(int fd) { return synced(fd, ::fsync); }
int fdatasync(int fd) { return synced(fd, ::fdatasync); }
int syncfs(int fd) { return synced(fd, ::syncfs); }

int rename(const char *oldPath, const char *newPath)
{
    if (const auto hook = faultHook(); hook) {
        if (const int error = hook->before(Op::Rename, pathAt(AT_FDCWD, newPath)))
            return refused(error);
    }
    return ::rename(oldPath, newPath);
}

int renameat(int oldDirFd, const char *oldName, int newDirFd, const char *newName)
{
    if (const auto hook = faultHook(); hook) {
        if (const int error = hook->before(Op::Rename, pathAt(newDirFd, newName)))
            return refused(error);
    }
    return ::renameat(oldDirFd, oldName, newDirFd, newName);
}

int renameat2(int oldDirFd, const char *oldName, int newDirFd, const char *newName, unsigned int flags)
{
    if (const auto hook = faultHook(); hook) {
        if (const int error = hook->before(Op::Rename, pathAt(newDirFd, newName)))
            return refused(error);
    }
    return ::renameat2(oldDirFd, oldName, newDirFd, newName, flags);
}

int open(const char *path, int flags, mode_t mode) { return openat(AT_FDCWD, path, flags, mode); }

int openat(int dirFd, const char *name, int flags, mode_t mode)
{
    if ((flags & O_CREAT) != 0) {
        if (const auto hook = faultHook(); hook) {
            if (const int error = hook->before(Op::Create, pathAt(dirFd, name)))
                return refused(error);
        }
    }
    return ::openat(dirFd, name, flags, mode);
}

} // namespace VHSys
