/* Reading a file whole: the library's one way, and the tools'. */
#ifndef ORLIXDB_FILE_READ_H
#define ORLIXDB_FILE_READ_H

#include <stddef.h>
#include <stdint.h>

#include "file_status.h"

enum FileRead {
    kFileReadOk = 0,
    kFileMissing,    /* no such file, or no such directory */
    kFileReadFailed, /* exists but could not be opened or read, or is no file */
    kFileTooLarge,   /* larger than `limit` */
    kFileNoMemory
};

/*
** Read the whole of `path` into a new buffer of *size bytes (free() it).
** Files larger than `limit` are refused before any buffer is allocated.
** Anything but a regular file (a FIFO, a device, a directory) is refused
** at once, never waited on.  On Windows, a file another program holds
** without sharing is retried on the sharing retries' schedule.
*/
enum FileRead FileReadWhole(const char* path, uint64_t limit, uint8_t** data, size_t* size,
                            struct FileStatus* status = nullptr);

#endif
