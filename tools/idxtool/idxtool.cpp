/*
** idxtool: the maintainer's tool for index files.  Every failure names the
** file and the problem on stderr and ends with a nonzero exit status.
*/
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "collation/compare_headwords.h"
#include "orlixdb/file_io.h"
#include "orlixdb/index_format.h"
#include "orlixdb/orlixdb.h"
#include "editor_commands.h"
#include "loaded_index.h"
#include "record_text.h"

enum { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

static const char kUsage[] =
    "usage: idxtool COMMAND ARGS...\n"
    "\n"
    "  build OUT [TEXT]        make index OUT from TEXT (or standard input),\n"
    "                          one record a line: KEY <TAB> REFERENCE; records\n"
    "                          are stored in the order given\n"
    "  dump FILE               print the records of FILE in that text form\n"
    "  check FILE              check format, checksum and headword order\n"
    "  merge TARGET SOURCE...  merge the sources into TARGET, as the utility's\n"
    "                          index job does (missing files count as empty)\n"
    "  merge --dry-run TARGET SOURCE...\n"
    "                          say what that merge would do; write nothing\n"
    "  explain KEY1 KEY2       compare two keys: first line RESULT <TAB> RULE,\n"
    "                          then which rule decided and why\n"
    "  find FILE KEY           print the records of FILE whose key differs from\n"
    "                          KEY only in case and numeric suffix (exit 0 found,\n"
    "                          1 none, 2 trouble)\n"
    "  check --lookup FILE     check FILE, then look every key up by binary\n"
    "                          search as a reader does; name the keys not found\n"
    "  --help                  show this text\n"
    "  --version               show the version\n"
    "\n"
    "In keys, \\\\ is a backslash, \\t a TAB, \\n a newline and \\xHH any other\n"
    "byte but NUL.  Keys hold 1 to 1024 bytes; references are 0 to 4294967295.\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage.\n";

static int Fail(const char* file, const char* problem)
{
    fprintf(stderr, "idxtool: %s: %s\n", file, problem);
    return kExitFailure;
}

/* Load `path`; on failure print the problem and return false. */
static bool LoadIndex(const char* path, LoadedIndex* index)
{
    std::string problem;
    if (LoadIndexFile(path, false, index, &problem) == nullptr) return true;
    return Fail(path, problem.c_str()), false;
}

/* "the step" or "the step: the system's reason". */
static std::string StatusText(const char* action, int error)
{
    std::string text = action != nullptr ? action : "failed";
    if (error == 0) return text;
    char reason[256];
    return text + ": " + FileErrorText(error, reason, sizeof reason);
}

static bool ReadStream(FILE* in, std::string* text)
{
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) text->append(buffer, n);
    return !ferror(in);
}

static int Build(const char* out, const char* textPath)
{
    const char* name = textPath != nullptr ? textPath : "(standard input)";
    FILE* in = textPath != nullptr ? fopen(textPath, "rb") : stdin;
    if (in == nullptr) return Fail(name, "cannot open");
    std::string text;
    bool read = ReadStream(in, &text);
    if (in != stdin) fclose(in);
    if (!read) return Fail(name, "cannot read");

    std::vector<std::string> keys;
    std::vector<uint32_t> references;
    size_t line = 0;
    for (size_t at = 0; at < text.size(); line++) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string key;
        uint32_t reference = 0;
        const char* problem = ParseRecordLine(text.data() + at, end - at, &key, &reference);
        if (problem != nullptr) {
            std::string where = std::string(name) + ":" + std::to_string(line + 1);
            return Fail(where.c_str(), problem);
        }
        keys.push_back(key);
        references.push_back(reference);
        at = end + 1;
    }

    std::vector<IndexRecord> records(keys.size());
    std::vector<const IndexRecord*> items(keys.size());
    for (size_t n = 0; n < keys.size(); n++) {
        records[n] = IndexRecord{keys[n].c_str(), (uint32_t)keys[n].size(), references[n]};
        items[n] = &records[n];
    }
    uint64_t size = IndexImageSize(items.data(), items.size());
    if (size == 0) return Fail(out, "too many records for one index");
    std::vector<uint8_t> image((size_t)size);
    IndexWriteImage(image.data(), items.data(), items.size());
    FileStatus status = {nullptr, nullptr, 0};
    if (!FileReplace(out, image.data(), image.size(), &status))
        return Fail(status.path, StatusText(status.action, status.error).c_str());
    printf("%s: %zu records\n", out, items.size());
    return kExitOk;
}

static int Dump(const char* path)
{
    LoadedIndex index;
    if (!LoadIndex(path, &index)) return kExitFailure;
    std::string text;
    for (const IndexRecord& r : index.records) FormatRecordLine(r.key, r.length, r.reference, &text);
    if (fwrite(text.data(), 1, text.size(), stdout) != text.size() || fflush(stdout) != 0)
        return Fail("(standard output)", "cannot write");
    return kExitOk;
}

static int Check(const char* path)
{
    LoadedIndex index;
    if (!LoadIndex(path, &index)) return kExitFailure;
    const std::vector<IndexRecord>& r = index.records;
    for (size_t n = 1; n < r.size(); n++) {
        if (CompareHeadwords(r[n - 1].key, r[n].key) <= 0) continue;
        std::string first, second;
        FormatRecordLine(r[n - 1].key, r[n - 1].length, r[n - 1].reference, &first);
        FormatRecordLine(r[n].key, r[n].length, r[n].reference, &second);
        first.pop_back();
        second.pop_back();
        fprintf(stderr, "idxtool: %s: out of order: record %zu (%s) sorts after record %zu (%s)\n",
                path, n, first.c_str(), n + 1, second.c_str());
        return kExitFailure;
    }
    printf("%s: ok, %zu records in order\n", path, r.size());
    return kExitOk;
}

/*
** The job reports the file it failed on, the step and the system's
** reason; nothing is read again to explain a failure.
*/
static int Merge(const char* target, int count, char** sources)
{
    OrlixMergeReport report;
    int32_t result = OrlixMergeIndexesReporting(target, count, sources, CompareHeadwords,
                                                kFileLockWaitMs, &report);
    if (result == kOrlixOk) {
        LoadedIndex merged;
        std::string problem;
        if (LoadIndexFile(target, true, &merged, &problem) != nullptr)
            return Fail(target, problem.c_str());
        if (merged.missing)
            printf("%s: ok, nothing to index, no file written\n", target);
        else
            printf("%s: ok, %zu records\n", target, merged.records.size());
        return kExitOk;
    }
    if (report.action != nullptr) {
        bool corrupt = result == kOrlixCorrupt && report.indexProblem != kIndexFine;
        std::string why = corrupt ? IndexProblemWords(report.indexProblem, report.badRecord)
                                  : StatusText(report.action, report.systemError);
        Fail(report.path, why.c_str());
    }
    fprintf(stderr, "idxtool: merge into %s: %s (result %d); %s %s\n", target,
            OrlixResultText(result), (int)result, target,
            report.targetReplaced ? "holds the merged index" : "is unchanged");
    return kExitFailure;
}

static int Usage(const char* problem)
{
    fprintf(stderr, "idxtool: %s\n%s", problem, kUsage);
    return kExitUsage;
}

int main(int argc, char** argv)
{
    FileJobsCleanUpOnSignals();
#if defined(_WIN32)
    /* Dumps and built files must be the same bytes on every platform. */
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    if (argc < 2) return Usage("no command");
    const char* command = argv[1];
    int args = argc - 2;
    if (strcmp(command, "--help") == 0 || strcmp(command, "-h") == 0 ||
        strcmp(command, "help") == 0) {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    if (strcmp(command, "--version") == 0) {
        printf("idxtool %s\n", ORLIX_VERSION);
        return kExitOk;
    }
    if (strcmp(command, "build") == 0 && (args == 1 || args == 2))
        return Build(argv[2], args == 2 && strcmp(argv[3], "-") != 0 ? argv[3] : nullptr);
    if (strcmp(command, "dump") == 0 && args == 1) return Dump(argv[2]);
    if (strcmp(command, "check") == 0 && args == 1) return Check(argv[2]);
    if (strcmp(command, "explain") == 0 && args == 2) return ExplainCommand(argv[2], argv[3]);
    if (strcmp(command, "explain") == 0) return Usage("explain takes two keys");
    if (strcmp(command, "find") == 0 && args == 2) return FindCommand(argv[2], argv[3]);
    if (strcmp(command, "find") == 0) return Usage("find takes a file and a key");
    if (strcmp(command, "check") == 0 && args == 2 && strcmp(argv[2], "--lookup") == 0) {
        /* Lookups are only meaningful in an index that passes the ordinary checks. */
        int status = Check(argv[3]);
        return status != kExitOk ? status : CheckLookupCommand(argv[3]);
    }
    if (strcmp(command, "merge") == 0 && args >= 2 && strcmp(argv[2], "--dry-run") == 0 &&
        args - 2 <= kOrlixMaxSources)
        return MergeDryRunCommand(argv[3], args - 2, argv + 4);
    if (strcmp(command, "merge") == 0 && args >= 1 && strcmp(argv[2], "--dry-run") == 0)
        return Usage("wrong number of arguments");
    if (strcmp(command, "merge") == 0 && args >= 1 && args - 1 <= kOrlixMaxSources)
        return Merge(argv[2], args - 1, argv + 3);
    if (strcmp(command, "build") == 0 || strcmp(command, "dump") == 0 ||
        strcmp(command, "check") == 0 || strcmp(command, "merge") == 0)
        return Usage("wrong number of arguments");
    return Usage("unknown command");
}
