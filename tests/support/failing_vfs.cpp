#include "support/failing_vfs.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <string>

namespace yunshan::test {

namespace {

struct State {
    bool counting = false;
    int fail_at = 0; // 0: never
    int count = 0;
    bool failed = false;
    std::string only_under;
};

State g_state;
sqlite3_vfs g_vfs;
sqlite3_vfs *g_real = nullptr;

bool counts(const char *path)
{
    if (!g_state.counting)
        return false;
    return g_state.only_under.empty() || (path && std::strstr(path, g_state.only_under.c_str()));
}

// True when this operation on `path` must fail.
bool fails(const char *path)
{
    if (!counts(path))
        return false;
    if (g_state.failed)
        return true;
    ++g_state.count;
    if (g_state.fail_at > 0 && g_state.count >= g_state.fail_at) {
        g_state.failed = true;
        return true;
    }
    return false;
}

struct ShimFile {
    sqlite3_file base;
    std::string *path;
    sqlite3_file *real() { return reinterpret_cast<sqlite3_file *>(this + 1); }
};

ShimFile *shim(sqlite3_file *f)
{
    return reinterpret_cast<ShimFile *>(f);
}

int x_close(sqlite3_file *f)
{
    ShimFile *s = shim(f);
    const int rc = s->real()->pMethods ? s->real()->pMethods->xClose(s->real()) : SQLITE_OK;
    delete s->path;
    s->path = nullptr;
    return rc;
}
int x_read(sqlite3_file *f, void *buf, int amount, sqlite3_int64 offset)
{
    return shim(f)->real()->pMethods->xRead(shim(f)->real(), buf, amount, offset);
}
int x_write(sqlite3_file *f, const void *buf, int amount, sqlite3_int64 offset)
{
    if (fails(shim(f)->path->c_str()))
        return SQLITE_IOERR_WRITE;
    return shim(f)->real()->pMethods->xWrite(shim(f)->real(), buf, amount, offset);
}
int x_truncate(sqlite3_file *f, sqlite3_int64 size)
{
    if (fails(shim(f)->path->c_str()))
        return SQLITE_IOERR_TRUNCATE;
    return shim(f)->real()->pMethods->xTruncate(shim(f)->real(), size);
}
int x_sync(sqlite3_file *f, int flags)
{
    if (fails(shim(f)->path->c_str()))
        return SQLITE_IOERR_FSYNC;
    return shim(f)->real()->pMethods->xSync(shim(f)->real(), flags);
}
int x_file_size(sqlite3_file *f, sqlite3_int64 *size)
{
    return shim(f)->real()->pMethods->xFileSize(shim(f)->real(), size);
}
int x_lock(sqlite3_file *f, int level)
{
    return shim(f)->real()->pMethods->xLock(shim(f)->real(), level);
}
int x_unlock(sqlite3_file *f, int level)
{
    return shim(f)->real()->pMethods->xUnlock(shim(f)->real(), level);
}
int x_check_reserved(sqlite3_file *f, int *out)
{
    return shim(f)->real()->pMethods->xCheckReservedLock(shim(f)->real(), out);
}
int x_file_control(sqlite3_file *f, int op, void *arg)
{
    return shim(f)->real()->pMethods->xFileControl(shim(f)->real(), op, arg);
}
int x_sector_size(sqlite3_file *f)
{
    return shim(f)->real()->pMethods->xSectorSize(shim(f)->real());
}
int x_device(sqlite3_file *f)
{
    return shim(f)->real()->pMethods->xDeviceCharacteristics(shim(f)->real());
}

// Version 1: no shared memory and no memory mapping, so every write goes through x_write.
const sqlite3_io_methods kMethods = {1,           x_close, x_read,   x_write,          x_truncate,     x_sync,
                                     x_file_size, x_lock,  x_unlock, x_check_reserved, x_file_control, x_sector_size,
                                     x_device,    nullptr, nullptr,  nullptr,          nullptr,        nullptr,
                                     nullptr};

int v_open(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *file, int flags, int *out_flags)
{
    ShimFile *s = shim(file);
    s->base.pMethods = nullptr;
    s->path = new std::string(name ? name : "");
    const int rc = g_real->xOpen(g_real, name, s->real(), flags, out_flags);
    if (rc != SQLITE_OK) {
        delete s->path;
        s->path = nullptr;
        return rc;
    }
    s->base.pMethods = &kMethods;
    return rc;
}
int v_delete(sqlite3_vfs *, const char *name, int sync_dir)
{
    if (fails(name))
        return SQLITE_IOERR_DELETE;
    return g_real->xDelete(g_real, name, sync_dir);
}
int v_access(sqlite3_vfs *, const char *name, int flags, int *out)
{
    return g_real->xAccess(g_real, name, flags, out);
}
int v_full(sqlite3_vfs *, const char *name, int n, char *out)
{
    return g_real->xFullPathname(g_real, name, n, out);
}
void *v_dlopen(sqlite3_vfs *, const char *name)
{
    return g_real->xDlOpen(g_real, name);
}
void v_dlerror(sqlite3_vfs *, int n, char *out)
{
    g_real->xDlError(g_real, n, out);
}
void (*v_dlsym(sqlite3_vfs *, void *h, const char *sym))(void)
{
    return g_real->xDlSym(g_real, h, sym);
}
void v_dlclose(sqlite3_vfs *, void *h)
{
    g_real->xDlClose(g_real, h);
}
int v_random(sqlite3_vfs *, int n, char *out)
{
    return g_real->xRandomness(g_real, n, out);
}
int v_sleep(sqlite3_vfs *, int us)
{
    return g_real->xSleep(g_real, us);
}
int v_time(sqlite3_vfs *, double *t)
{
    return g_real->xCurrentTime(g_real, t);
}
int v_last_error(sqlite3_vfs *, int n, char *out)
{
    return g_real->xGetLastError(g_real, n, out);
}
int v_time64(sqlite3_vfs *, sqlite3_int64 *t)
{
    return g_real->xCurrentTimeInt64(g_real, t);
}

} // namespace

QByteArray FailingVfs::name()
{
    static const char *const kName = "yunshan_failing";
    if (!g_real) {
        g_real = sqlite3_vfs_find(nullptr);
        g_vfs = sqlite3_vfs{};
        g_vfs.iVersion = 2;
        g_vfs.szOsFile = int(sizeof(ShimFile)) + g_real->szOsFile;
        g_vfs.mxPathname = g_real->mxPathname;
        g_vfs.zName = kName;
        g_vfs.xOpen = v_open;
        g_vfs.xDelete = v_delete;
        g_vfs.xAccess = v_access;
        g_vfs.xFullPathname = v_full;
        g_vfs.xDlOpen = v_dlopen;
        g_vfs.xDlError = v_dlerror;
        g_vfs.xDlSym = v_dlsym;
        g_vfs.xDlClose = v_dlclose;
        g_vfs.xRandomness = v_random;
        g_vfs.xSleep = v_sleep;
        g_vfs.xCurrentTime = v_time;
        g_vfs.xGetLastError = v_last_error;
        g_vfs.xCurrentTimeInt64 = v_time64;
        sqlite3_vfs_register(&g_vfs, 0);
    }
    return QByteArray(kName);
}

void FailingVfs::fail_at(int n, const QString &only_under)
{
    g_state = State{true, n, 0, false, only_under.toStdString()};
}

void FailingVfs::count_only(const QString &only_under)
{
    fail_at(0, only_under);
}

void FailingVfs::disarm()
{
    g_state = State{};
}

int FailingVfs::operations()
{
    return g_state.count;
}

bool FailingVfs::failed()
{
    return g_state.failed;
}

} // namespace yunshan::test
