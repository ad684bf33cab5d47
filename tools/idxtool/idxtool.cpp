/*
** idxtool: the maintainer's tool for index files.  Every failure names the
** file, the step and the system's reason on stderr and ends with a nonzero
** exit status; a slip on the command line is found before any file is
** opened, and ends with status 2.
*/
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "collation/compare_headwords.h"
#include "common/arguments.h"
#include "common/tool_common.h"
#include "orlixdb/file_io.h"
#include "orlixdb/index_format.h"
#include "orlixdb/orlixdb.h"
#include "safe_sort/record_sort.h"
#include "editor_commands.h"
#include "loaded_index.h"
#include "record_text.h"

enum { kExitOk = kToolOk, kExitFailure = kToolFailure, kExitUsage = kToolUsage };

static const char kTool[] = "idxtool";

static int Fail(const char* file, const char* problem)
{
    return ToolFail(kTool, file, problem, 0);
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
    return ToolStepText(action != nullptr ? action : "failed", error);
}

/*
** All of TEXT: a file through the library's whole-file read; standard
** input ("-"), a pipe or a FIFO (the library reads only regular files) as
** a stream.
*/
static bool ReadText(const char* path, const char* name, std::string* text)
{
    if (strcmp(path, "-") != 0) {
        uint8_t* data = nullptr;
        size_t size = 0;
        FileStatus status = {nullptr, nullptr, 0};
        enum FileRead read = FileReadWhole(path, SIZE_MAX, &data, &size, &status);
        if (read == kFileReadOk) text->assign((const char*)data, size);
        free(data);
        if (read == kFileReadOk) return true;
        const char* step = status.action == kFileCannotOpen ? "open" : status.action;
        if (read != kFileReadFailed || status.error != 0 || status.action == kFileIsDirectory)
            return ToolFail(kTool, name, step, status.error), false;
    }
    FILE* in = strcmp(path, "-") != 0 ? fopen(path, "rb") : stdin;
    if (in == nullptr) return ToolFail(kTool, name, "open", ToolLastError()), false;
    /* Room for a file at once: growing a large text step by step copies it over and over. */
    if (in != stdin && fseek(in, 0, SEEK_END) == 0) {
        long size = ftell(in);
        if (size > 0) text->reserve((size_t)size);
        rewind(in);
    }
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) text->append(buffer, n);
    int error = ferror(in) ? ToolLastError() : 0;
    bool read = !ferror(in);
    if (in != stdin) fclose(in);
    if (!read) return ToolFail(kTool, name, "read", error), false;
    return true;
}

/*
** Whether build may put an index in place of `out`: it does not exist, is
** empty, or begins with the index header.  Anything else (the user's text,
** say, named first by mistake) is kept unless --force.
*/
static bool MayReplace(const char* out)
{
    uint8_t* data = nullptr;
    size_t size = 0;
    FileStatus status = {nullptr, nullptr, 0};
    enum FileRead read = FileReadWhole(out, kIndexMaxFile, &data, &size, &status);
    bool index = read == kFileReadOk &&
                 (size == 0 || (size >= sizeof kIndexMagic &&
                                memcmp(data, kIndexMagic, sizeof kIndexMagic) == 0));
    free(data);
    if (read == kFileMissing || index) return true;
    if (read == kFileReadOk || read == kFileTooLarge)
        fprintf(stderr, "idxtool: %s exists and is not an index; --force replaces it\n", out);
    else
        ToolFail(kTool, out, status.action != nullptr ? status.action : "read", status.error);
    return false;
}

static int32_t KeyOrder(const void* a, const void* b, void*)
{
    return CompareHeadwords((const char*)a, (const char*)b);
}

/* --keep-order: every pair together, so the stable sort keeps the order given. */
static int32_t InputOrder(const void*, const void*, void*)
{
    return 0;
}

/*
** The records as the sort hands them out.  Sorted in memory, their keys
** stay in the sort's buffer until it ends; from runs in files, each key is
** copied after the last into `keys`.
*/
struct BuiltRecords {
    RecordSort* sort;
    bool copy;
    std::string keys; /* reserved in full before the first, so the records' keys stay put */
    std::vector<IndexRecord> records;
};

static bool TakeRecord(const char* key, const char* payload, size_t, void* context)
{
    BuiltRecords* to = (BuiltRecords*)context;
    size_t length = strlen(key);
    uint32_t reference;
    memcpy(&reference, payload, sizeof reference);
    if (to->copy) {
        to->records.push_back(IndexRecord{to->keys.data() + to->keys.size(), (uint32_t)length, reference});
        to->keys.append(key, length + 1);
    } else {
        to->records.push_back(IndexRecord{key, (uint32_t)length, reference});
    }
    return true;
}

/*
** Parse TEXT's records into the sort and take them out in order; the
** caller ends built->sort once done with the records.  It is
** the engine hwsort sorts with, so both give one order; the collation is
** not a strict weak order on every input, which that sort is safe under.
*/
static bool ReadRecords(const std::string& text, const char* name, bool keepOrder, BuiltRecords* built)
{
    RecordSortSettings settings = {keepOrder ? InputOrder : KeyOrder, nullptr, 1, 0, nullptr};
    RecordSort* sort = RecordSortBegin(&settings);
    if (sort == nullptr) return Fail(name, "out of memory"), false;
    built->sort = sort;
    RecordSortStatus status = {nullptr, 0};
    std::string key;
    size_t line = 0, keyBytes = 0;
    bool read = true;
    for (size_t at = 0; at < text.size() && read; line++) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        uint32_t reference = 0;
        const char* problem = ParseRecordLine(text.data() + at, end - at, &key, &reference);
        if (problem != nullptr) {
            std::string where = std::string(name) + ":" + std::to_string(line + 1);
            Fail(where.c_str(), problem);
            read = false;
        } else if (!RecordSortAdd(sort, key.c_str(), key.size() + 1, (const char*)&reference, sizeof reference,
                                  &status)) {
            ToolFail(kTool, "temporary directory", status.action, status.error);
            read = false;
        }
        keyBytes += key.size() + 1;
        at = end + 1;
    }
    if (read) {
        built->copy = RecordSortRuns(sort) > 0;
        if (built->copy) built->keys.reserve(keyBytes);
        built->records.reserve(line);
        read = RecordSortFinish(sort, TakeRecord, built, &status);
        if (!read) ToolFail(kTool, "temporary directory", status.action, status.error);
    }
    return read;
}

static int Build(const char* out, const char* textPath, bool keepOrder, bool force, bool quiet)
{
    const char* name = strcmp(textPath, "-") != 0 ? textPath : "(standard input)";
    if (!force && !MayReplace(out)) return kExitFailure;
    std::string text;
    if (!ReadText(textPath, name, &text)) return kExitFailure;
    BuiltRecords built = {nullptr, false, std::string(), std::vector<IndexRecord>()};
    bool read = ReadRecords(text, name, keepOrder, &built);
    std::unique_ptr<RecordSort, void (*)(RecordSort*)> ending(built.sort, RecordSortEnd);
    if (!read) return kExitFailure;
    std::string().swap(text);
    std::vector<const IndexRecord*> items(built.records.size());
    for (size_t n = 0; n < items.size(); n++) items[n] = &built.records[n];
    uint64_t size = IndexImageSize(items.data(), items.size());
    if (size == 0) return Fail(out, "too many records for one index");
    std::vector<uint8_t> image((size_t)size);
    IndexWriteImage(image.data(), items.data(), items.size());
    FileStatus status = {nullptr, nullptr, 0};
    if (!FileReplace(out, image.data(), image.size(), &status))
        return Fail(status.path, StatusText(status.action, status.error).c_str());
    if (!quiet)
        printf("%s: %zu records, %s\n", out, items.size(),
               keepOrder ? "in the order given" : "in headword order");
    return ToolFinishOutput(kTool);
}

static int Dump(const char* path)
{
    LoadedIndex index;
    if (!LoadIndex(path, &index)) return kExitFailure;
    std::string text;
    for (const IndexRecord& r : index.records) FormatRecordLine(r.key, r.length, r.reference, &text);
    ToolWrite(text.data(), text.size());
    return ToolFinishOutput(kTool);
}

static int Check(const char* path)
{
    LoadedIndex index;
    if (!LoadIndex(path, &index)) return kExitFailure;
    const std::vector<IndexRecord>& r = index.records;
    std::vector<const char*> keys(r.size());
    for (size_t n = 0; n < r.size(); n++) keys[n] = r[n].key;
    size_t n = FirstOutOfOrder(keys.data(), keys.size(), false);
    if (n < r.size()) {
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
    return ToolFinishOutput(kTool);
}

static const ToolOption kBuildOptions[] = {
    {'q', "quiet", false, "  -q, --quiet       print nothing on success\n"},
    {0, "keep-order", false, "      --keep-order  store the records in the order given (for test files)\n"},
    {0, "force", false, "      --force       replace OUT even when it is not an index\n"},
    {0, nullptr, false, nullptr},
};
static const ToolOption kCheckOptions[] = {
    {0, "lookup", false,
     "      --lookup      then look every key up by binary search as a reader\n"
     "                    does, and name the keys not found\n"},
    {0, nullptr, false, nullptr},
};
static const ToolOption kMergeOptions[] = {
    {'q', "quiet", false, "  -q, --quiet       print nothing on success\n"},
    {'n', "dry-run", false, "  -n, --dry-run     say what the merge would do; write nothing\n"},
    {0, nullptr, false, nullptr},
};

enum { kBuild, kDump, kCheck, kMerge, kExplain, kFind, kHelp, kCommands };

static const ToolCommand kCommandTable[kCommands] = {
    {"build", "OUT TEXT", 2, 2, false, kBuildOptions,
     "  Make index OUT from TEXT (\"-\": standard input), one record a line:\n"
     "  KEY <TAB> REFERENCE. The records are stored in headword order; records\n"
     "  of equal keys keep their order in TEXT. OUT is replaced only when it\n"
     "  is missing, empty or an index, and never when it is TEXT itself.\n"},
    {"dump", "FILE", 1, 1, false, nullptr,
     "  Print the records of FILE in the text form build reads.\n"},
    {"check", "FILE", 1, 1, false, kCheckOptions,
     "  Check the format, checksum and headword order of FILE.\n"},
    {"merge", "TARGET SOURCE...", 2, 1 + kOrlixMaxSources, false, kMergeOptions,
     "  Merge the sources into TARGET as the utility's index job does; a\n"
     "  missing file counts as empty.\n"},
    {"explain", "KEY1 KEY2", 2, 2, true, nullptr,
     "  Compare two keys: a first line RESULT <TAB> RULE, then which rule\n"
     "  decided and why. Keys may begin with '-'.\n"},
    {"find", "FILE KEY", 2, 2, true, nullptr,
     "  Print the records of FILE whose key differs from KEY only in case and\n"
     "  numeric suffix: exit 0 found, 1 none or FILE not in headword order,\n"
     "  2 trouble. KEY may begin with '-'.\n"},
    {"help", "[COMMAND]", 0, 1, false, nullptr,
     "  Show this text, or the help of one command.\n"},
};

static const char kIntro[] =
    "Usage: idxtool COMMAND [OPTION]... OPERAND...\n"
    "The maintainer's tool for the index files of the dictionary: make them\n"
    "from text, print, check and merge them, and see why keys sort as they do.\n"
    "Options may stand anywhere among the operands; after \"--\" every argument\n"
    "is an operand. A wrong command line is reported before any file is opened.\n";

static const char kGeneral[] =
    "\n"
    "General options:\n"
    "      --help        show this text; after a command, that command's help\n"
    "      --version     show the version\n";

static const char kNotes[] =
    "\n"
    "In keys, \\\\ is a backslash, \\t a TAB, \\n a newline and \\xHH any other\n"
    "byte but NUL. Keys hold 1 to 1024 bytes; references are 0 to 4294967295.\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage (nothing was touched).\n";

/* The whole help: every command with its options. */
static int Help(const ToolCommand* only)
{
    std::string text;
    if (only != nullptr) {
        text = ToolCommandHelp(kTool, only) + kNotes;
    } else {
        text = kIntro;
        for (const ToolCommand& c : kCommandTable) {
            std::string help = ToolCommandHelp(kTool, &c);
            text += "\n" + help.substr(strlen("Usage: "));
        }
        text += kGeneral;
        text += kNotes;
    }
    ToolWrite(text.data(), text.size());
    return ToolFinishOutput(kTool);
}

static const ToolCommand* CommandNamed(const char* name)
{
    for (const ToolCommand& c : kCommandTable)
        if (strcmp(c.name, name) == 0) return &c;
    return nullptr;
}

/*
** A build that would write over its own text: OUT and TEXT (or standard
** input) are the same file, by whatever names.
*/
static int BuildOverInput(const char* out, const char* text)
{
    bool fromStdin = strcmp(text, "-") == 0;
    if (!ToolSameFile(out, fromStdin ? nullptr : text)) return kExitOk;
    std::string input = fromStdin ? "standard input" : "TEXT '" + std::string(text) + "'";
    std::string problem = std::string("OUT '") + out + "' is " + input + ", the same file";
    return ToolUsage(kTool, "build", problem.c_str());
}

/*
** "-" stands for standard input where a command reads text (build's TEXT)
** and nowhere else: a file of that name is written "./-".  Whether a file
** operand (OUT of build, FILE of find, every operand of dump, check and
** merge) is "-".
*/
static bool StdinNamedAsFile(const ToolCommand* command, const std::vector<const char*>& op)
{
    int index = (int)(command - kCommandTable);
    size_t files = op.size();
    if (index == kBuild || index == kFind) files = 1;
    if (index == kExplain || index == kHelp) files = 0;
    for (size_t n = 0; n < files && n < op.size(); n++)
        if (strcmp(op[n], "-") == 0) return true;
    return false;
}

static int Run(const ToolCommand* command, const ToolArguments* args)
{
    const std::vector<const char*>& op = args->operands;
    if (StdinNamedAsFile(command, op))
        return ToolUsage(kTool, command->name,
                         "'-' is standard input, which only build's TEXT reads; "
                         "a file named - is ./-");
    auto option = [&](const char* name) { return ToolOptionValue(command, args, name) != nullptr; };
    switch (command - kCommandTable) {
    case kBuild: {
        int status = BuildOverInput(op[0], op[1]);
        if (status != kExitOk) return status;
        return Build(op[0], op[1], option("keep-order"), option("force"), option("quiet"));
    }
    case kDump: return Dump(op[0]);
    case kCheck: {
        /* Lookups are only meaningful in an index that passes the ordinary checks. */
        int status = Check(op[0]);
        return status != kExitOk || !option("lookup") ? status : CheckLookupCommand(op[0]);
    }
    case kMerge:
        if (option("dry-run"))
            return MergeDryRunCommand(op[0], (int)op.size() - 1, (char**)op.data() + 1);
        return MergeCommand(op[0], (int)op.size() - 1, (char**)op.data() + 1, option("quiet"));
    case kExplain: return ExplainCommand(op[0], op[1]);
    case kFind:
        if (op[1][0] == 0) return ToolUsage(kTool, "find", "KEY is empty");
        return FindCommand(op[0], op[1]);
    default: {
        if (op.empty()) return Help(nullptr);
        const ToolCommand* about = CommandNamed(op[0]);
        std::string problem = "no command '" + std::string(op[0]) + "'";
        if (about == nullptr) return ToolUsage(kTool, "help", problem.c_str());
        return Help(about);
    }
    }
}

int main(int argc, char** argv)
{
    FileJobsCleanUpOnSignals();
#if defined(_WIN32)
    /* Dumps and built files must be the same bytes on every platform. */
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    if (argc < 2) return ToolUsage(kTool, nullptr, "no command");
    const char* name = argv[1];
    if (strcmp(name, "--help") == 0 || strcmp(name, "-h") == 0) return Help(nullptr);
    if (strcmp(name, "--version") == 0) {
        printf("idxtool %s\n", ORLIX_VERSION);
        return ToolFinishOutput(kTool);
    }
    const ToolCommand* command = CommandNamed(name);
    if (command == nullptr)
        return ToolUsage(kTool, nullptr, ("unknown command '" + std::string(name) + "'").c_str());
    ToolArguments args;
    std::string problem;
    if (!ToolParse(command, argc - 2, argv + 2, &args, &problem))
        return ToolUsage(kTool, command->name, problem.c_str());
    if (args.help) return Help(command);
    /* No command reports success unless standard output took all it printed. */
    int status = Run(command, &args);
    return status == kExitOk ? ToolFinishOutput(kTool) : status;
}
