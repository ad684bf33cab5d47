#include <windows.h>

#include "index_job.h"

/* The process's arguments carry nothing for this utility. */
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return RunIndexJob();
}
