/*
** What went wrong with a file, for a message: the step that failed, the
** file it concerned and the system's own error code (errno; GetLastError()
** on Windows), 0 when the system reported none.  `action` and `path` are
** null while all is well.  `path` is always a path the caller gave (never
** one the library made, such as a link's resolved target), so it lives as
** long as the caller's string.
*/
#ifndef ORLIXDB_FILE_STATUS_H
#define ORLIXDB_FILE_STATUS_H

#include <stddef.h>

struct FileStatus {
    const char* action;
    const char* path;
    int error;
};

/* The actions that more than one step reports. */
extern const char kFileDirectoryNotFlushed[]; /* the one failure after which the target is new */
extern const char kFileLockUnusable[];
extern const char kFileLockNotRegular[];
extern const char kFileOutOfMemory[];
extern const char kFileNotFlushed[];
extern const char kFileNotWritable[];
extern const char kFileCannotOpen[];
extern const char kFileCannotRead[];
extern const char kFileIsDirectory[];
extern const char kFileTooLargeText[];
extern const char kFileTempNotWritten[];
extern const char kFileTempNotFlushed[];
extern const char kFileTempNotCreated[];
extern const char kFileNotReplaced[];
extern const char kFileNotReadWhole[];

/* Fill *status (when not null) and return false, for `return FileFailed(...)`. */
bool FileFailed(struct FileStatus* status, const char* action, const char* path, int error);

/* The system's text for an error code of FileStatus, in buffer. */
const char* FileErrorText(int error, char* buffer, size_t size);

#endif
