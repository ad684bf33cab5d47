#include "sort_space.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "safe_sort/run_file.h"

static bool ParseSize(const char* text, size_t* bytes)
{
    char* end;
    if (*text < '0' || *text > '9') return false;
    errno = 0;
    unsigned long long n = strtoull(text, &end, 10);
    if (errno != 0 || (end[0] != 0 && end[1] != 0)) return false;
    const char* units = "bKMGT";
    const char* unit = *end == 0 ? units + 1 : *end == '%' ? nullptr : strchr(units, *end);
    if (unit == nullptr && *end != '%') return false;
    if (*end == '%') {
        if (n == 0 || n > 100) return false;
        n = (unsigned long long)(PhysicalMemory() / 100 * n);
    } else {
        for (const char* u = units; u < unit; u++) {
            if (n > ~0ull / 1024) return false;
            n *= 1024;
        }
    }
    if (n < 4096 || n > SIZE_MAX) return false;
    return *bytes = (size_t)n, true;
}

bool ToolTakeBufferSize(ToolSortSpace* space, const char* typed, const char* value,
                        std::string* problem)
{
    if (space->bufferBytes != 0)
        return *problem = "option '" + std::string(typed) + "' given twice", false;
    if (ParseSize(value, &space->bufferBytes)) return true;
    return *problem = std::string(typed) +
                      " takes a size of at least 4K: N with b, K, M, G or T, or N%",
           false;
}

bool ToolTakeTempDir(ToolSortSpace* space, const char* typed, const char* value,
                     std::string* problem)
{
    if (value[0] == 0) return *problem = std::string(typed) + " takes a directory", false;
    return ToolTakeOnce(&space->tempDir, typed, value, problem);
}
