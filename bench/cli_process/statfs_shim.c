// Preloaded into `sensors` by the bench: libsensors reads hwmon only from a file system that
// reports sysfs' magic number, and the bench's /sys is a fixture tree bound over it.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <string.h>
#include <sys/statfs.h>

#define SYSFS_MAGIC 0x62656572

// dlsym's object pointer as a function pointer, without the cast ISO C leaves undefined.
static void* next(const char* name) {
    return dlsym(RTLD_NEXT, name);
}

static int underSys(const char* path) {
    return path && strncmp(path, "/sys", 4) == 0 && (path[4] == '\0' || path[4] == '/');
}

int statfs(const char* path, struct statfs* buffer) {
    int (*real)(const char*, struct statfs*);
    void* symbol = next("statfs");
    memcpy(&real, &symbol, sizeof real);
    const int result = real(path, buffer);
    if (result == 0 && underSys(path)) {
        buffer->f_type = SYSFS_MAGIC;
    }
    return result;
}

int statfs64(const char* path, struct statfs64* buffer) {
    int (*real)(const char*, struct statfs64*);
    void* symbol = next("statfs64");
    memcpy(&real, &symbol, sizeof real);
    const int result = real(path, buffer);
    if (result == 0 && underSys(path)) {
        buffer->f_type = SYSFS_MAGIC;
    }
    return result;
}
