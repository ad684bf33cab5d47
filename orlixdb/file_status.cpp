#include "file_status.h"

const char kFileDirectoryNotFlushed[] = "was replaced, but its directory could not be flushed";
const char kFileLockUnusable[] = "cannot open or lock its lock file";
const char kFileLockNotRegular[] = "has a lock file that is not a regular file";
const char kFileOutOfMemory[] = "out of memory";
const char kFileNotFlushed[] = "cannot be flushed to the disk";
const char kFileNotWritable[] = "cannot be written";

bool FileFailed(struct FileStatus* status, const char* action, const char* path, int error)
{
    if (status != nullptr) *status = FileStatus{action, path, error};
    return false;
}
