#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "file_name.h"
#include "file_replace.h"
#include "file_signals.h"
#include "file_syscall.h"

/*
** FileRenameInfoEx of FILE_INFO_BY_HANDLE_CLASS: mingw-w64's header hides
** it behind a version test that never holds, so it is named here.
*/
static const FILE_INFO_BY_HANDLE_CLASS kFileRenameInfoEx = (FILE_INFO_BY_HANDLE_CLASS)22;

/*
** This process's temporary: new, shared with nobody while it is open (so
** no scanner or indexer can open it between its writing and its rename),
** and opened with DELETE access so that it is renamed and, on failure,
** removed through this same handle.  A read-only target is not replaced
** behind its protection.
*/
bool FileTempCreate(const struct FileJob* job, struct FileTemp* temp, struct FileStatus* status)
{
    *temp = FileTemp{FileTempPath(job->target, (unsigned long)GetCurrentProcessId()), job,
                     (intptr_t)INVALID_HANDLE_VALUE, false};
    if (temp->path == NULL) return FileFailed(status, kFileOutOfMemory, job->path, ERROR_NOT_ENOUGH_MEMORY);
    DWORD attributes = gFileCalls.GetFileAttributesA(job->target);
    const char* refused = attributes == INVALID_FILE_ATTRIBUTES   ? NULL
                          : attributes & FILE_ATTRIBUTE_DIRECTORY ? kFileIsDirectory
                          : attributes & FILE_ATTRIBUTE_READONLY  ? kFileNotWritable
                                                                  : NULL;
    if (refused != NULL) {
        free(temp->path);
        temp->path = NULL;
        return FileFailed(status, refused, job->path, refused == kFileNotWritable ? ERROR_ACCESS_DENIED : 0);
    }
    HANDLE file = gFileCalls.CreateFileA(temp->path, GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        FileFailed(status, kFileTempNotCreated, job->path, (int)GetLastError());
        free(temp->path);
        temp->path = NULL;
        return false;
    }
    temp->handle = (intptr_t)file;
    FileCleanUpTemp(temp->path, temp->handle);
    return true;
}

bool FileTempWrite(struct FileTemp* temp, const void* data, size_t size, struct FileStatus* status)
{
    if (temp->failed) return false;
    DWORD error = FileWriteAll((HANDLE)temp->handle, data, size);
    if (error == 0) return true;
    temp->failed = true;
    return FileFailed(status, kFileTempNotWritten, temp->job->path, (int)error);
}

/*
** Errors with which a file system (or Wine) refuses to open or flush a
** directory: there the flush is skipped, and the rename's durability
** rests on the file system, as docs/reliability.md says.
*/
static bool DirectoryFlushRefused(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_HANDLE ||
           error == ERROR_NOT_SUPPORTED;
}

/*
** Flush the directory holding `path`, so that a rename in it is on the
** disk: NTFS logs renames in its journal, but nothing documents that for
** FAT or exFAT.  A directory opens with backup semantics.
*/
static DWORD FlushDirectoryOf(const char* path)
{
    char* dir = FileDirectoryOf(path);
    if (dir == NULL) return ERROR_NOT_ENOUGH_MEMORY;
    HANDLE handle = gFileCalls.CreateFileA(dir, GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    free(dir);
    if (handle != INVALID_HANDLE_VALUE) {
        if (!gFileCalls.FlushFileBuffers(handle)) error = GetLastError();
        gFileCalls.CloseHandle(handle);
    }
    return DirectoryFlushRefused(error) ? 0 : error;
}

/*
** Flushing a file wants a handle that may write it, which a read-only
** target refuses, and so does another program that holds the target
** without sharing writing (a reader, a virus scanner).  Waiting for that
** program would fail a job that has nothing to write, and needlessly:
** every target this library wrote had its data flushed before the rename
** that named it, so what a job that died before its directory flush left
** unflushed is the name.  So the target is opened once, without the
** sharing retries, and where it is refused so only its directory is
** flushed.
*/
bool FileJobKeep(const struct FileJob* job, struct FileStatus* status)
{
    HANDLE file = gFileCalls.CreateFileA(job->target, GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (error == ERROR_FILE_NOT_FOUND) return true;
    if (file == INVALID_HANDLE_VALUE && !FileHeldByAnother(error))
        return FileFailed(status, kFileCannotOpen, job->path, (int)error);
    if (file != INVALID_HANDLE_VALUE) {
        error = gFileCalls.FlushFileBuffers(file) ? 0 : GetLastError();
        gFileCalls.CloseHandle(file);
    }
    if (file == INVALID_HANDLE_VALUE || error == 0) error = FlushDirectoryOf(job->target);
    return error == 0 || FileFailed(status, kFileNotFlushed, job->path, (int)error);
}

/*
** The target's full name as the native rename wants it, "\??\C:\dir\name"
** (a bare name would be taken relative to the current directory by some
** systems), in a FILE_RENAME_INFO of `size` bytes; free() it.
*/
static FILE_RENAME_INFO* RenameInfoFor(const char* target, DWORD* size)
{
    WCHAR wide[MAX_PATH], full[MAX_PATH + 8];
    if (MultiByteToWideChar(CP_ACP, 0, target, -1, wide, MAX_PATH) == 0) return NULL;
    DWORD length = GetFullPathNameW(wide, MAX_PATH, full + 4, NULL);
    if (length == 0 || length >= MAX_PATH) return NULL;
    WCHAR* name = full + 4;
    if (wcsncmp(name, L"\\\\?\\", 4) == 0) { /* \\?\C:\... */
        name[1] = L'?';
    } else if (wcsncmp(name, L"\\\\", 2) == 0) { /* \\server\share: \??\UNC\server\share */
        name = full;
        memmove(name + 8, full + 6, (length - 1) * sizeof *name);
        memcpy(name, L"\\??\\UNC\\", 8 * sizeof *name);
        length += 6;
    } else {
        name = full;
        memcpy(name, L"\\??\\", 4 * sizeof *name);
        length += 4;
    }
    *size = (DWORD)(sizeof(FILE_RENAME_INFO) + length * sizeof(WCHAR));
    FILE_RENAME_INFO* info = (FILE_RENAME_INFO*)calloc(1, *size);
    if (info == NULL) return NULL;
    info->FileNameLength = length * sizeof(WCHAR);
    memcpy(info->FileName, name, (length + 1) * sizeof(WCHAR));
    return info;
}

/*
** Rename the open temporary over the target.  First the rename that also
** replaces a target other programs hold open with FILE_SHARE_DELETE (their
** handle keeps the old file; the name moves to the new one in one step);
** where the system lacks it, the classic rename, which waits for every
** handle on the target to close.  Both replace the name atomically; the
** target is never missing.
*/
static DWORD RenameOver(HANDLE file, FILE_RENAME_INFO* info, DWORD size)
{
    size_t attempt = 0;
    bool posixRename = true;
    for (;;) {
        BOOL renamed = FALSE;
        DWORD error = 0;
        if (posixRename) {
            info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
            renamed = gFileCalls.SetFileInformationByHandle(file, kFileRenameInfoEx, info, size);
            error = renamed ? 0 : GetLastError();
            posixRename = renamed || FileHeldByAnother(error);
        }
        if (!posixRename) {
            info->Flags = 0;
            info->ReplaceIfExists = TRUE;
            renamed = gFileCalls.SetFileInformationByHandle(file, FileRenameInfo, info, size);
            error = renamed ? 0 : GetLastError();
        }
        if (renamed) return 0;
        if (!FilePauseBeforeRetry(error, &attempt)) return error;
    }
}

bool FileTempCommit(struct FileTemp* temp, struct FileStatus* status)
{
    if (temp->failed) return FileTempDiscard(temp), false;
    const struct FileJob* job = temp->job;
    HANDLE file = (HANDLE)temp->handle;
    if (!gFileCalls.FlushFileBuffers(file)) {
        FileFailed(status, kFileTempNotFlushed, job->path, (int)GetLastError());
        return FileTempDiscard(temp), false;
    }
    FileCleanUpTemp(NULL, 0); /* from here its handle may be the target's */
    DWORD size = 0;
    FILE_RENAME_INFO* info = RenameInfoFor(job->target, &size);
    DWORD error = info != NULL ? RenameOver(file, info, size) : ERROR_FILENAME_EXCED_RANGE;
    free(info);
    if (error != 0) {
        FileFailed(status, kFileNotReplaced, job->path, (int)error);
        return FileTempDiscard(temp), false;
    }
    /* The file's metadata with its new name, then the directory that holds the name. */
    error = gFileCalls.FlushFileBuffers(file) ? 0 : GetLastError();
    gFileCalls.CloseHandle(file);
    free(temp->path);
    *temp = FileTemp{NULL, job, (intptr_t)INVALID_HANDLE_VALUE, false};
    if (error == 0) error = FlushDirectoryOf(job->target);
    return error == 0 || FileFailed(status, kFileDirectoryNotFlushed, job->path, (int)error);
}

/* Marked for deletion through its own handle, so it goes on the close. */
void FileTempDiscard(struct FileTemp* temp)
{
    FileCleanUpTemp(NULL, 0);
    if (temp->handle != (intptr_t)INVALID_HANDLE_VALUE) {
        FILE_DISPOSITION_INFO gone = {TRUE};
        bool marked = gFileCalls.SetFileInformationByHandle((HANDLE)temp->handle, FileDispositionInfo, &gone,
                                                 sizeof gone);
        gFileCalls.CloseHandle((HANDLE)temp->handle);
        if (!marked) gFileCalls.DeleteFileA(temp->path);
    }
    free(temp->path);
    *temp = FileTemp{NULL, temp->job, (intptr_t)INVALID_HANDLE_VALUE, false};
}

/* The directory of `path` with its separator, then `name`; free() it. */
static char* SiblingPath(const char* path, const char* name)
{
    size_t dir = (size_t)(FileBaseName(path) - path), length = strlen(name);
    char* sibling = (char*)malloc(dir + length + 1);
    if (sibling == NULL) return NULL;
    memcpy(sibling, path, dir);
    memcpy(sibling + dir, name, length + 1);
    return sibling;
}

/*
** A temporary still being written is open without sharing, so DeleteFileA
** fails on it; only the ones whose writer is gone are removed.  Directories
** and reparse points (links, junctions) are left alone.
*/
void FileRemoveStaleTemps(const char* path)
{
    char* pattern = FileTempPath(path, 0);
    if (pattern == NULL) return;
    pattern[strlen(pattern) - 1] = '*';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    free(pattern);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!FileIsTempOf(found.cFileName, FileBaseName(path))) continue;
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        char* temp = SiblingPath(path, found.cFileName);
        if (temp != NULL) gFileCalls.DeleteFileA(temp);
        free(temp);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}
