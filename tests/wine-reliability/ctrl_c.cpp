/*
** ctrl_c: Ctrl+C to a program in the middle of its work, as a user at its
** console would press it.
**
**     ctrl_c PATTERN COMMAND-LINE
**
** starts COMMAND-LINE on this program's console (made when there is
** none), waits for a file matching PATTERN (wildcards allowed) to
** appear, sends the console Ctrl+C and writes the program's exit code in
** hex to the file ctrl_c.code (the console's output is a terminal's,
** interleaved with its escapes).  Exit status 0, or 2 when the program cannot be started, ends
** before such a file appears, or the event cannot be sent.
*/
#include <windows.h>

#include <stdio.h>

static bool Appeared(const char* pattern)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: ctrl_c PATTERN COMMAND-LINE\n");
        return 2;
    }
    if (GetConsoleWindow() == NULL) AllocConsole();
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, argv[2], NULL, NULL, FALSE, 0, NULL, NULL, &start, &process)) {
        fprintf(stderr, "ctrl_c: cannot start: error %lu\n", GetLastError());
        return 2;
    }
    CloseHandle(process.hThread);
    SetConsoleCtrlHandler(NULL, TRUE); /* the event is for the program (which would inherit this) */
    int status = 2;
    while (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        if (!Appeared(argv[1])) continue;
        if (GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) status = 0;
        else fprintf(stderr, "ctrl_c: cannot send: error %lu\n", GetLastError());
        break;
    }
    if (status != 0) TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    FILE* out = fopen("ctrl_c.code", "wb");
    if (out == NULL) return 2;
    fprintf(out, "0x%lx\n", code);
    fclose(out);
    return status;
}
