/*
** queue_order: jobs waiting for one target's lock are served in the
** order they came, and a job killed while it waits holds up nobody.
**
**     queue_order TARGET JOBS KILL
**
** takes the lock of TARGET, starts JOBS waiting jobs (this program as
** "queue_order TARGET job N"), each once the one before has its place in
** the queue, kills job KILL (-1: none) while it waits, and lets the lock
** go.  Each job, once it holds the lock, appends its number to
** TARGET.order and keeps the lock 100 ms.  Prints the order served; exit
** status 0 when it is the order of arrival without KILL and every other
** job ended 0, else 1.
*/
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "orlixdb/file_io.h"
#include "orlixdb/file_io_platform.h"

static int Job(const std::string& target, const char* number)
{
    struct FileJob job;
    if (FileJobBegin(target.c_str(), 10000, &job, nullptr) != kFileJobStarted) return 3;
    std::string order = target + ".order", line = std::string(number) + " ";
    HANDLE file = CreateFileA(order.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD put = 0;
    bool written = file != INVALID_HANDLE_VALUE && WriteFile(file, line.data(), (DWORD)line.size(), &put, NULL);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
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

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: queue_order TARGET JOBS KILL\n");
        return 2;
    }
    std::string target = argv[1], order = target + ".order";
    if (strcmp(argv[2], "job") == 0) return Job(target, argv[3]);
    int jobs = atoi(argv[2]), kill = atoi(argv[3]);
    DeleteFileA(order.c_str());
    struct FileJob first;
    if (FileJobBegin(target.c_str(), 0, &first, nullptr) != kFileJobStarted) return 2;
    std::vector<PROCESS_INFORMATION> started;
    std::string expected;
    bool failed = false;
    for (int n = 0; n < jobs && !failed; n++) {
        std::string line = "\"" + std::string(argv[0]) + "\" \"" + target + "\" job " + std::to_string(n);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
            fprintf(stderr, "cannot start job %d: error %lu\n", n, GetLastError());
            failed = true;
            break;
        }
        CloseHandle(process.hThread);
        started.push_back(process);
        if (!Queued(target, (uint64_t)n)) fprintf(stderr, "job %d never took its place\n", n), failed = true;
        if (n != kill) expected += std::to_string(n) + " ";
    }
    if (kill >= 0 && kill < (int)started.size()) {
        TerminateProcess(started[kill].hProcess, 9);
        WaitForSingleObject(started[kill].hProcess, INFINITE);
    }
    FileJobEnd(&first);
    for (size_t n = 0; n < started.size(); n++) {
        DWORD code = 1;
        WaitForSingleObject(started[n].hProcess, INFINITE);
        GetExitCodeProcess(started[n].hProcess, &code);
        CloseHandle(started[n].hProcess);
        if ((int)n != kill && code != 0) fprintf(stderr, "job %zu ended %lu\n", n, code), failed = true;
    }
    std::string served;
    uint8_t* data = nullptr;
    size_t size = 0;
    if (FileReadWhole(order.c_str(), 4096, &data, &size, nullptr) == kFileReadOk) served.assign((char*)data, size);
    free(data);
    std::string killed = kill >= 0 ? "job " + std::to_string(kill) + " killed while waiting" : "none killed";
    printf("%d jobs, %s: served %s(arrived %s)\n", jobs, killed.c_str(), served.c_str(), expected.c_str());
    return failed || served != expected ? 1 : 0;
}
