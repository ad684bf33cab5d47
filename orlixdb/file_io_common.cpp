#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "file_io.h"

const char kFileTempMarker[] = ".orlixdb-tmp.";
const char kFileLockSuffix[] = ".orlixdb-lock";
const char kFileDirectoryNotFlushed[] = "was replaced, but its directory could not be flushed";

char* FileTempPath(const char* path, unsigned long id)
{
    size_t length = strlen(path);
    size_t room = length + sizeof kFileTempMarker + 20;
    char* temp = (char*)malloc(room);
    if (temp == nullptr) return nullptr;
    snprintf(temp, room, "%s%s%lu", path, kFileTempMarker, id);
    return temp;
}

char* FileLockPath(const char* path)
{
    size_t length = strlen(path);
    char* lock = (char*)malloc(length + sizeof kFileLockSuffix);
    if (lock == nullptr) return nullptr;
    memcpy(lock, path, length);
    memcpy(lock + length, kFileLockSuffix, sizeof kFileLockSuffix);
    return lock;
}

bool FileIsTempOf(const char* name, const char* base)
{
    size_t length = strlen(base), marker = sizeof kFileTempMarker - 1;
    if (strncmp(name, base, length) != 0) return false;
    if (strncmp(name + length, kFileTempMarker, marker) != 0) return false;
    const char* id = name + length + marker;
    if (*id == 0) return false;
    for (; *id != 0; id++)
        if (*id < '0' || *id > '9') return false;
    return true;
}

const char* FileBaseName(const char* path)
{
    const char* base = path;
    for (const char* p = path; *p != 0; p++) {
#if defined(_WIN32)
        if (*p == '\\') base = p + 1;
#endif
        if (*p == '/') base = p + 1;
    }
    return base;
}

bool FileJobReplace(const struct FileJob* job, const uint8_t* data, size_t size,
                    struct FileStatus* status)
{
    struct FileTemp temp;
    if (!FileTempCreate(job, &temp, status)) return false;
    if (!FileTempWrite(&temp, data, size, status)) {
        FileTempDiscard(&temp);
        return false;
    }
    return FileTempCommit(&temp, status);
}

/*
** The status may name the job's resolved target, which goes with the job;
** it then names the path as the caller gave it.
*/
bool FileReplace(const char* path, const uint8_t* data, size_t size, struct FileStatus* status)
{
    struct FileJob job;
    if (FileJobBegin(path, kFileLockWaitMs, &job, status) != kFileJobStarted) return false;
    bool replaced = FileJobReplace(&job, data, size, status);
    if (status != nullptr && status->path == job.target) status->path = path;
    FileJobEnd(&job);
    return replaced;
}
