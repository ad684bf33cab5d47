#include "file_status.h"

const char kFileDirectoryNotFlushed[] = "was replaced, but its directory could not be flushed";
const char kFileLockUnusable[] = "cannot open or lock its lock file";
const char kFileLockNotRegular[] = "has a lock file that is not a regular file";
const char kFileOutOfMemory[] = "out of memory";
const char kFileNotFlushed[] = "cannot be flushed to the disk";
const char kFileNotWritable[] = "cannot be written";
const char kFileCannotOpen[] = "cannot open";
const char kFileCannotRead[] = "cannot read";
const char kFileIsDirectory[] = "is a directory, not a file";
const char kFileTooLargeText[] = "is too large";
const char kFileTempNotWritten[] = "cannot write its temporary";
const char kFileTempNotFlushed[] = "cannot flush its temporary to the disk";
const char kFileTempNotCreated[] = "cannot create its temporary";
const char kFileNotReplaced[] = "cannot be replaced by its temporary";
const char kFileNotReadWhole[] = "cannot be read whole";

bool FileFailed(struct FileStatus* status, const char* action, const char* path, int error)
{
    if (status != nullptr) *status = FileStatus{action, path, error};
    return false;
}
