#include "tool_common.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#include <stdlib.h>
#else
#include <sys/stat.h>
#endif

#include "collation/compare_headwords.h"
#include "orlixdb/file_io.h"

/* The first failure of a write to standard output, for its message. */
static int outputError;
static bool outputFailed;

int ToolLastError(void)
{
#if defined(_WIN32)
    /* The C library keeps the system's own code beside errno. */
    return (int)_doserrno;
#else
    return errno;
#endif
}

std::string ToolStepText(const char* step, int error)
{
    std::string text = step != nullptr ? step : "failed";
    if (error == 0) return text;
    char reason[256];
    return text + ": " + FileErrorText(error, reason, sizeof reason);
}

int ToolFail(const char* tool, const char* file, const char* step, int error)
{
    std::string text = ToolStepText(step, error);
    fprintf(stderr, "%s: %s: %s\n", tool, file, text.c_str());
    return kToolFailure;
}

void ToolSay(const char* tool, const std::string& text)
{
    fprintf(stderr, "%s: ", tool);
    fwrite(text.data(), 1, text.size(), stderr);
    fputc('\n', stderr);
}

std::string ToolCount(size_t count, const char* noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

int ToolUsage(const char* tool, const char* command, const char* problem)
{
    const char* space = command != nullptr ? " " : "";
    if (command == nullptr) command = "";
    fprintf(stderr, "%s%s%s: %s; try '%s%s%s --help'\n", tool, space, command, problem, tool, space,
            command);
    return kToolUsage;
}

bool ToolWrite(const void* data, size_t size)
{
    if (size == 0 || fwrite(data, 1, size, stdout) == size) return true;
    if (!outputFailed) outputFailed = true, outputError = ToolLastError();
    return false;
}

int ToolFinishOutput(const char* tool)
{
    if (fflush(stdout) != 0 && !outputFailed) outputFailed = true, outputError = ToolLastError();
    if (ferror(stdout) && !outputFailed) outputFailed = true;
    if (!outputFailed) return kToolOk;
    return ToolFail(tool, "standard output", "write", outputError);
}

size_t FirstOutOfOrder(const char* const* keys, size_t count, bool strict)
{
    for (size_t n = 1; n < count; n++) {
        int32_t c = CompareHeadwords(keys[n - 1], keys[n]);
        if (c > 0 || (strict && c == 0)) return n;
    }
    return count;
}

#if defined(_WIN32)
/*
** The volume serial number and file index.  A handle whose volume the
** system cannot name (Wine's handle for an inherited Unix descriptor) has
** its file ID read alone, its volume 0: see ToolSameFile.
*/
static bool IdOfHandle(HANDLE handle, ToolFileId* id)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info)) {
        id->volume = info.dwVolumeSerialNumber;
        id->file = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
        return true;
    }
    FILE_ID_INFO ids;
    if (!GetFileInformationByHandleEx(handle, FileIdInfo, &ids, sizeof ids)) return false;
    id->volume = ids.VolumeSerialNumber;
    memcpy(&id->file, ids.FileId.Identifier, sizeof id->file); /* the index, as above */
    return true;
}

bool ToolFileIdOf(const char* path, ToolFileId* id)
{
    if (path == nullptr) return IdOfHandle(GetStdHandle(STD_INPUT_HANDLE), id);
    /* No access asked for, all sharing allowed: a file in use is looked at too. */
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool known = IdOfHandle(handle, id);
    CloseHandle(handle);
    return known;
}
#else
bool ToolFileIdOf(const char* path, ToolFileId* id)
{
    struct stat st;
    if ((path != nullptr ? stat(path, &st) : fstat(0, &st)) != 0) return false;
    id->volume = (uint64_t)st.st_dev;
    id->file = (uint64_t)st.st_ino;
    return true;
}
#endif

/*
** A volume of 0 is one the system could not name; such a file is taken for
** the other when their file IDs agree.  A rare refusal of two files on
** different volumes is the price, never a file written over.
*/
bool ToolSameFile(const char* output, const char* input)
{
    ToolFileId a, b;
    return ToolFileIdOf(output, &a) && ToolFileIdOf(input, &b) && a.file == b.file &&
           (a.volume == b.volume || a.volume == 0 || b.volume == 0);
}
