/*
** What the maintainer's tools (idxtool, hwsort) share: one form for every
** message, one check that standard output took what was written, one test
** of headword order, and file identity, so that no tool writes over a file
** it reads.
*/
#ifndef TOOLS_COMMON_TOOL_COMMON_H
#define TOOLS_COMMON_TOOL_COMMON_H

#include <stddef.h>
#include <stdint.h>

#include <string>

/*
** The exit statuses of both tools, named here once.  idxtool: success, a
** failure of the work (or a "no": no record found, a file out of order),
** wrong usage with nothing touched.  hwsort keeps sort's: 1 is input out
** of order (-c), 2 wrong usage or trouble.
*/
enum {
    kToolOk = 0,
    kToolFailure = 1,
    kToolUsage = 2,
    kSortDisorder = 1,
    kSortTrouble = 2
};

/*
** A system error code as FileErrorText reads it (errno; GetLastError() on
** Windows) for the C library call that just failed; 0 when there is none.
*/
int ToolLastError(void);

/* "STEP" or "STEP: the system's reason" (none when error is 0). */
std::string ToolStepText(const char* step, int error);

/*
** Print "TOOL: FILE: STEP: REASON" on stderr (no reason when error is 0;
** the path whole, however long) and return kToolFailure.
*/
int ToolFail(const char* tool, const char* file, const char* step, int error);

/* Print "TOOL: TEXT" on stderr: a note, or a failure said in words of its own. */
void ToolSay(const char* tool, const std::string& text);

/* "1 record", "2 records": NOUN with the count, in agreement. */
std::string ToolCount(size_t count, const char* noun);

/*
** A usage slip, on one line: "TOOL COMMAND: PROBLEM; try 'TOOL COMMAND
** --help'" (without COMMAND when it is null).  Returns kToolUsage.
*/
int ToolUsage(const char* tool, const char* command, const char* problem);

/*
** Write data to standard output; false when it did not all go.  The
** error, if any, is kept for ToolFinishOutput.
*/
bool ToolWrite(const void* data, size_t size);

/*
** Flush standard output and check that everything written reached it.
** On failure print "TOOL: standard output: write: REASON" and return
** kToolFailure; else kToolOk.  A tool calls it before it reports success.
*/
int ToolFinishOutput(const char* tool);

/*
** The first n (1 <= n < count) at which keys[n - 1] sorts after keys[n]
** by CompareHeadwords, or, when strict, does not sort before it (equal
** keys count too); count when there is none.  Keys end in a NUL.
*/
size_t FirstOutOfOrder(const char* const* keys, size_t count, bool strict);

/* What tells one file from another, whatever the names that lead to it. */
struct ToolFileId {
    uint64_t volume; /* device; volume serial number on Windows */
    uint64_t file;   /* inode; file index on Windows */
};

/*
** The identity of the file `path` names (symbolic links followed), or of
** standard input when path is null.  False when there is no such file (or
** it cannot be looked at).
*/
bool ToolFileIdOf(const char* path, ToolFileId* id);

/*
** Whether `output` is the same file as `input` (null: standard input):
** the same name, a hard link or a symbolic link to it all count.  False
** when either does not exist.
*/
bool ToolSameFile(const char* output, const char* input);

#endif
