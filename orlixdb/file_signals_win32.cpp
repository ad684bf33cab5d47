#include <windows.h>

#include "file_signals.h"

/*
** What the console handler needs to clean up after the current job: the
** temporary's handle, marked for deletion through it (no other open can
** reach it), unless the commit has begun.  The lock file needs nothing:
** it is deleted when the process's handles close.
*/
static CRITICAL_SECTION gCleanUp;
static volatile LONG gCleanUpInstalled; /* set once gCleanUp is ready */
static HANDLE gTempHandle = INVALID_HANDLE_VALUE;

void FileCleanUpTemp(const char* path, intptr_t handle)
{
    if (!gCleanUpInstalled) return;
    EnterCriticalSection(&gCleanUp);
    gTempHandle = path != NULL ? (HANDLE)handle : INVALID_HANDLE_VALUE;
    LeaveCriticalSection(&gCleanUp);
}

void FileCleanUpLock(const char*, intptr_t) {}

static BOOL WINAPI CleanUpAndExit(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    EnterCriticalSection(&gCleanUp); /* held to the end: no commit starts now */
    if (gTempHandle != INVALID_HANDLE_VALUE) {
        FILE_DISPOSITION_INFO gone = {TRUE};
        SetFileInformationByHandle(gTempHandle, FileDispositionInfo, &gone, sizeof gone);
    }
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

/* For a tool's main, before any job: called again, it does nothing. */
void FileJobsCleanUpOnSignals()
{
    if (gCleanUpInstalled) return;
    InitializeCriticalSection(&gCleanUp);
    InterlockedExchange(&gCleanUpInstalled, 1);
    SetConsoleCtrlHandler(CleanUpAndExit, TRUE);
}
