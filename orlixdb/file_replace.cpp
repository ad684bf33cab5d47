#include "file_replace.h"

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

bool FileReplace(const char* path, const uint8_t* data, size_t size, struct FileStatus* status)
{
    struct FileJob job;
    if (FileJobBegin(path, kFileLockWaitMs, &job, status) != kFileJobStarted) return false;
    bool replaced = FileJobReplace(&job, data, size, status);
    FileJobEnd(&job);
    return replaced;
}
