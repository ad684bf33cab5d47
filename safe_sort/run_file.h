/*
** Anonymous temporary files for the runs of an external sort.
**
** A run file has no name from the moment it exists: on POSIX systems it is
** created unlinked (O_TMPFILE, or created and unlinked at once), on Windows
** it is opened to be deleted when its last handle closes.  So nothing is
** left in the directory however the process ends, a kill included.
*/
#ifndef ORLIX_SAFE_SORT_RUN_FILE_H
#define ORLIX_SAFE_SORT_RUN_FILE_H

#include <stddef.h>
#include <stdint.h>

struct RunFile;

/*
** A new empty run file in `dir` (null: the system's temporary directory).
** Returns null and sets *error (errno, or GetLastError on Windows) when it
** cannot be made.
*/
RunFile* RunFileCreate(const char* dir, int* error);

/* Append size bytes; false and *error on failure (a full disk, say). */
bool RunFileAppend(RunFile* file, const void* data, size_t size, int* error);

/*
** Read up to size bytes at offset into data; *got is 0 only at the end of
** the file.  False and *error on failure.
*/
bool RunFileRead(RunFile* file, uint64_t offset, void* data, size_t size, size_t* got, int* error);

/* Close and so delete the file; null is allowed. */
void RunFileClose(RunFile* file);

/* The number of processors online, at least 1. */
unsigned ProcessorCount(void);

/* The size of physical memory in bytes, or 0 when it cannot be told. */
uint64_t PhysicalMemory(void);

#endif
