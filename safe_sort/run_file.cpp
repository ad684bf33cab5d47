#include "run_file.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#if defined(_WIN32)

struct RunFile {
    HANDLE handle;
};

/*
** GetTempFileName makes a unique empty file; it is then opened again to be
** deleted on close, and the first name is deleted should that open fail.
*/
RunFile* RunFileCreate(const char* dir, int* error)
{
    char tempDir[MAX_PATH + 1];
    if (dir == nullptr) {
        DWORD n = GetTempPathA(sizeof tempDir, tempDir);
        if (n == 0 || n > sizeof tempDir) return *error = (int)GetLastError(), nullptr;
        dir = tempDir;
    }
    char name[MAX_PATH + 1];
    if (GetTempFileNameA(dir, "srt", 0, name) == 0) return *error = (int)GetLastError(), nullptr;
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = (int)GetLastError();
        DeleteFileA(name);
        return nullptr;
    }
    RunFile* file = (RunFile*)malloc(sizeof *file);
    if (file == nullptr) {
        CloseHandle(h);
        return *error = ERROR_NOT_ENOUGH_MEMORY, nullptr;
    }
    file->handle = h;
    return file;
}

bool RunFileAppend(RunFile* file, const void* data, size_t size, int* error)
{
    const char* p = (const char*)data;
    while (size > 0) {
        DWORD chunk = size > (1u << 30) ? (1u << 30) : (DWORD)size, wrote = 0;
        OVERLAPPED at = {};
        at.Offset = 0xFFFFFFFF, at.OffsetHigh = 0xFFFFFFFF; /* the end of the file */
        if (!WriteFile(file->handle, p, chunk, &wrote, &at)) return *error = (int)GetLastError(), false;
        p += wrote, size -= wrote;
    }
    return true;
}

bool RunFileRead(RunFile* file, uint64_t offset, void* data, size_t size, size_t* got, int* error)
{
    DWORD chunk = size > (1u << 30) ? (1u << 30) : (DWORD)size, read = 0;
    OVERLAPPED at = {};
    at.Offset = (DWORD)offset, at.OffsetHigh = (DWORD)(offset >> 32);
    if (!ReadFile(file->handle, data, chunk, &read, &at) && GetLastError() != ERROR_HANDLE_EOF)
        return *error = (int)GetLastError(), false;
    *got = read;
    return true;
}

void RunFileClose(RunFile* file)
{
    if (file == nullptr) return;
    CloseHandle(file->handle);
    free(file);
}

unsigned ProcessorCount(void)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

uint64_t PhysicalMemory(void)
{
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

#else

struct RunFile {
    int fd;
};

/*
** O_TMPFILE where the file system has it; elsewhere a unique name that is
** unlinked before anything is written, so only a crash inside these few
** lines could leave it.
*/
static int OpenUnnamed(const char* dir, int* error)
{
    int fd;
#ifdef O_TMPFILE
    fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return *error = errno, -1;
#endif
    std::string name = std::string(dir) + "/sort-run.XXXXXX";
    fd = mkstemp(&name[0]);
    if (fd < 0) return *error = errno, -1;
    unlink(name.c_str());
    return fd;
}

RunFile* RunFileCreate(const char* dir, int* error)
{
    if (dir == nullptr) dir = getenv("TMPDIR");
    if (dir == nullptr || *dir == 0) dir = "/tmp";
    int fd = OpenUnnamed(dir, error);
    if (fd < 0) return nullptr;
    RunFile* file = (RunFile*)malloc(sizeof *file);
    if (file == nullptr) {
        close(fd);
        return *error = ENOMEM, nullptr;
    }
    file->fd = fd;
    return file;
}

bool RunFileAppend(RunFile* file, const void* data, size_t size, int* error)
{
    const char* p = (const char*)data;
    while (size > 0) {
        ssize_t wrote = write(file->fd, p, size);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return *error = wrote < 0 ? errno : ENOSPC, false;
        p += wrote, size -= (size_t)wrote;
    }
    return true;
}

bool RunFileRead(RunFile* file, uint64_t offset, void* data, size_t size, size_t* got, int* error)
{
    for (;;) {
        ssize_t read = pread(file->fd, data, size, (off_t)offset);
        if (read < 0 && errno == EINTR) continue;
        if (read < 0) return *error = errno, false;
        *got = (size_t)read;
        return true;
    }
}

void RunFileClose(RunFile* file)
{
    if (file == nullptr) return;
    close(file->fd);
    free(file);
}

unsigned ProcessorCount(void)
{
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? (unsigned)n : 1;
}

uint64_t PhysicalMemory(void)
{
    long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? (uint64_t)pages * (uint64_t)size : 0;
}

#endif
