/*
** -S SIZE and -T DIR, read alike by the tools that sort (hwsort, idxtool
** build) and as sort(1) reads them: how much memory the sort may hold,
** and where the sorted runs of input beyond it go.
*/
#ifndef TOOLS_COMMON_SORT_SPACE_H
#define TOOLS_COMMON_SORT_SPACE_H

#include <stddef.h>

#include <string>

#include "arguments.h"

struct ToolSortSpace {
    size_t bufferBytes;  /* 0: the sort engine's default */
    const char* tempDir; /* null: the system's temporary directory */
};

/*
** -S SIZE: bytes with a suffix b, K, M, G or T (powers of 1024; K without
** one), or N% of physical memory; at least 4K.  False with *problem for
** any other value or a second -S.
*/
bool ToolTakeBufferSize(ToolSortSpace* space, const char* typed, const char* value,
                        std::string* problem);

/* -T DIR: a directory named once; whether it exists is the sort's to find. */
bool ToolTakeTempDir(ToolSortSpace* space, const char* typed, const char* value,
                     std::string* problem);

template <typename Options, ToolSortSpace Options::*field>
bool ToolTakeBufferSizeOf(void* options, const char* typed, const char* value,
                          std::string* problem)
{
    return ToolTakeBufferSize(&(((Options*)options)->*field), typed, value, problem);
}

template <typename Options, ToolSortSpace Options::*field>
bool ToolTakeTempDirOf(void* options, const char* typed, const char* value, std::string* problem)
{
    return ToolTakeTempDir(&(((Options*)options)->*field), typed, value, problem);
}

/* The two option rows, the same in every tool's table and help. */
template <typename Options, ToolSortSpace Options::*field>
constexpr ToolOption kToolBufferSizeRow = {
    'S', "buffer-size", kToolValue, ToolTakeBufferSizeOf<Options, field>,
    "  -S, --buffer-size=SIZE   sort in at most SIZE of memory (K, M, G; N% of\n"
    "                           memory); the default is an eighth of memory, from\n"
    "                           64M to 1G\n"};

template <typename Options, ToolSortSpace Options::*field>
constexpr ToolOption kToolTempDirRow = {
    'T', "temporary-directory", kToolValue, ToolTakeTempDirOf<Options, field>,
    "  -T, --temporary-directory=DIR  put the sorted runs of input beyond the\n"
    "                           buffer in DIR, not in $TMPDIR or /tmp; they are\n"
    "                           gone when the tool ends\n"};

#endif
