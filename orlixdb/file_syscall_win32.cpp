#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "file_status.h"
#include "file_syscall.h"

/* Largest single ReadFile/WriteFile request; the DWORD count would allow more. */
static const DWORD kChunk = 1u << 30;

/*
** The pauses between attempts that another program's handle refused:
** nine attempts over 1.975 s of pauses.
*/
static const uint32_t kShareRetryPauses[] = {25, 50, 100, 200, 400, 400, 400, 400};

const struct FileCalls kFileCallsDefault = {
    CreateFileA, CloseHandle, ReadFile, WriteFile, FlushFileBuffers, SetFileInformationByHandle,
    GetFileSizeEx, GetFileType, GetFileAttributesA, DeleteFileA,
};
struct FileCalls gFileCalls = kFileCallsDefault;

const char* FileErrorText(int error, char* buffer, size_t size)
{
    if (size == 0) return buffer;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                             (DWORD)error, 0, buffer, (DWORD)size, NULL);
    while (n > 0 && strchr("\r\n. ", buffer[n - 1]) != NULL) buffer[--n] = 0;
    size_t used = n;
    if (n == 0) used = (size_t)snprintf(buffer, size, "system error");
    if (used < size) snprintf(buffer + used, size - used, " (error %d)", error);
    return buffer;
}

uint64_t FileClockMs() { return GetTickCount64(); }

/* FILETIME counts 100 ns from 1601; 11644473600 s lie between that and 1970. */
uint64_t FileWallMs()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t ticks = ((uint64_t)now.dwHighDateTime << 32) | now.dwLowDateTime;
    return ticks / 10000 - 11644473600000ull;
}

void FilePauseMs(uint32_t ms) { Sleep(ms); }

bool FileHeldByAnother(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

bool FilePauseBeforeRetry(DWORD error, size_t* attempt)
{
    if (!FileHeldByAnother(error)) return false;
    if (*attempt >= sizeof kShareRetryPauses / sizeof *kShareRetryPauses) return false;
    FilePauseMs(kShareRetryPauses[(*attempt)++]);
    return true;
}

/* The one loop over a transfer; 0 bytes moved is a failure, never a spin. */
static DWORD Transfer(HANDLE file, uint8_t* data, size_t size, bool writing)
{
    while (size > 0) {
        DWORD want = size > kChunk ? kChunk : (DWORD)size, done = 0;
        BOOL ok = writing ? gFileCalls.WriteFile(file, data, want, &done, NULL) : gFileCalls.ReadFile(file, data, want, &done, NULL);
        if (!ok) return GetLastError();
        if (done == 0) return writing ? ERROR_WRITE_FAULT : ERROR_HANDLE_EOF;
        data += done;
        size -= done;
    }
    return 0;
}

DWORD FileReadAll(HANDLE file, void* data, size_t size) { return Transfer(file, (uint8_t*)data, size, false); }

DWORD FileWriteAll(HANDLE file, const void* data, size_t size)
{
    return Transfer(file, (uint8_t*)(uintptr_t)data, size, true);
}
