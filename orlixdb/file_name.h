/*
** The names the library gives files beside a target: its temporaries and
** its lock file.  A fixed pattern lets a later run recognise what a killed
** run left behind.
*/
#ifndef ORLIXDB_FILE_NAME_H
#define ORLIXDB_FILE_NAME_H

extern const char kFileTempMarker[];
extern const char kFileLockSuffix[];

/*
** The temporary for `path` of the process numbered `id`: `path`, then
** kFileTempMarker, then `id` in decimal; in a new buffer (free() it), or
** null without memory.  A base name too long to take the suffix within
** the file system's 255 bytes is shortened first: its first bytes, '~'
** and a hash of the whole name.
*/
char* FileTempPath(const char* path, unsigned long id);

/* The job lock of `path`: `path` (shortened as above) then kFileLockSuffix; free() it. */
char* FileLockPath(const char* path);

/* Whether directory entry `name` is a temporary of a file named `base`. */
bool FileIsTempOf(const char* name, const char* base);

/* The part of `path` after its last separator ('/', and '\\' on Windows). */
const char* FileBaseName(const char* path);

/* The directory holding `path`, named as its "." entry ("dir/.", or "."); free() it. */
char* FileDirectoryOf(const char* path);

#endif
