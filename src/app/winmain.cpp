/* indexjob.exe's entry point: the run, whose result is the exit code. */
#include <windows.h>

#include "index_job.h"

/* The process's arguments carry nothing for this utility. */
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return RunIndexJob();
}
