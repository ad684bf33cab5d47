/*
** queue_order: jobs waiting for one target's lock are served in the
** order they came; a job killed while it waits holds up nobody; one
** stopped while it waits keeps out those behind it, who name it.
**
**     queue_order TARGET JOBS none|kill|stop N
**
** takes the lock of TARGET, starts JOBS waiting jobs (this program as
** "queue_order TARGET job N BOUND"), each once the one before has its
** place in the queue, kills or suspends job N, and lets the lock go.
** Each job, once it holds the lock, appends "N " to TARGET.order and keeps
** the lock 100 ms; one that gives up after its bound (2 s behind a
** stopped job, else 30 s) appends "N:" and the process id its message
** names.  A stopped job is resumed once the others have ended.  Prints
** what was served; exit status 0 when it is what the fate predicts (the
** others in arrival order, those behind a stopped job naming it) and
** every job that held the lock ended 0, else 1.
*/
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "orlixdb/file_io.h"
#include "orlixdb/file_lock_platform.h"

static bool Append(const std::string& path, const std::string& text)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    bool written = WriteFile(file, text.data(), (DWORD)text.size(), &put, NULL) && put == text.size();
    CloseHandle(file);
    return written;
}

static int Job(const std::string& target, const char* number, uint32_t bound)
{
    struct FileJob job;
    struct FileStatus status = {"", "", 0};
    std::string order = target + ".order";
    enum FileJobStart started = FileJobBegin(target.c_str(), bound, &job, &status);
    if (started == kFileJobBusy) {
        const char* named = strstr(status.action, "(process ");
        return Append(order, std::string(number) + ":" + (named ? std::to_string(atol(named + 9)) : "?") + " ")
                   ? 7 : 4;
    }
    if (started != kFileJobStarted) return 3;
    bool written = Append(order, std::string(number) + " ");
    Sleep(100);
    FileJobEnd(&job);
    return written ? 0 : 4;
}

/* Whether ticket `ticket` of TARGET's queue has a place, within 20 s. */
static bool Queued(const std::string& target, uint64_t ticket)
{
    char name[96];
    if (!FileQueuePlaceName(target.c_str(), ticket, name, sizeof name)) return false;
    for (int i = 0; i < 2000; i++, Sleep(10)) {
        HANDLE place = OpenMutexA(SYNCHRONIZE, FALSE, name);
        if (place != NULL) return CloseHandle(place), true;
    }
    return false;
}

static DWORD Ended(HANDLE process)
{
    DWORD code = 1;
    WaitForSingleObject(process, INFINITE);
    GetExitCodeProcess(process, &code);
    return code;
}

int main(int argc, char** argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: queue_order TARGET JOBS none|kill|stop N\n");
        return 2;
    }
    std::string target = argv[1], order = target + ".order", fate = argv[3];
    if (strcmp(argv[2], "job") == 0) return Job(target, argv[3], (uint32_t)atol(argv[4]));
    int jobs = atoi(argv[2]), chosen = fate == "none" ? -1 : atoi(argv[4]);
    DeleteFileA(order.c_str());
    struct FileJob first;
    if (FileJobBegin(target.c_str(), 0, &first, nullptr) != kFileJobStarted) return 2;
    std::vector<PROCESS_INFORMATION> started;
    std::string served, after;
    bool failed = false;
    for (int n = 0; n < jobs && !failed; n++) {
        bool behind = fate == "stop" && n > chosen;
        std::string line = "\"" + std::string(argv[0]) + "\" \"" + target + "\" job " + std::to_string(n) +
                           (behind ? " 2000" : " 30000");
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
            fprintf(stderr, "cannot start job %d: error %lu\n", n, GetLastError());
            failed = true;
            break;
        }
        started.push_back(process);
        if (!Queued(target, (uint64_t)n)) fprintf(stderr, "job %d never took its place\n", n), failed = true;
        if (n == chosen && fate == "stop") after = std::to_string(n) + " ";
        else if (behind) served += std::to_string(n) + ":" + std::to_string(started[chosen].dwProcessId) + " ";
        else if (n != chosen) served += std::to_string(n) + " ";
    }
    bool chosenStarted = chosen >= 0 && chosen < (int)started.size();
    if (chosenStarted && fate == "kill") {
        TerminateProcess(started[chosen].hProcess, 9);
        WaitForSingleObject(started[chosen].hProcess, INFINITE);
    } else if (chosenStarted && fate == "stop" && SuspendThread(started[chosen].hThread) == (DWORD)-1) {
        fprintf(stderr, "cannot suspend job %d: error %lu\n", chosen, GetLastError()), failed = true;
    }
    FileJobEnd(&first);
    for (size_t n = 0; n < started.size(); n++) {
        if ((int)n == chosen) continue;
        DWORD code = Ended(started[n].hProcess), want = fate == "stop" && (int)n > chosen ? 7 : 0;
        if (code != want) fprintf(stderr, "job %zu ended %lu, not %lu\n", n, code, want), failed = true;
    }
    if (chosenStarted && fate == "stop") {
        ResumeThread(started[chosen].hThread);
        DWORD code = Ended(started[chosen].hProcess);
        if (code != 0) fprintf(stderr, "job %d ended %lu once resumed\n", chosen, code), failed = true;
    }
    for (PROCESS_INFORMATION& process : started) CloseHandle(process.hThread), CloseHandle(process.hProcess);
    std::string got;
    uint8_t* data = nullptr;
    size_t size = 0;
    if (FileReadWhole(order.c_str(), 4096, &data, &size, nullptr) == kFileReadOk) got.assign((char*)data, size);
    free(data);
    printf("%d jobs, %s %d: served %s(expected %s)\n", jobs, fate.c_str(), chosen, got.c_str(),
           (served + after).c_str());
    return failed || got != served + after ? 1 : 0;
}
