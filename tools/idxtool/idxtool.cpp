/*
** idxtool: the maintainer's tool for index files.  Every failure names the
** file, the step and the system's reason on stderr and ends with a nonzero
** exit status; a slip on the command line is found before any file is
** opened, and ends with status 2.
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
#include "common/arguments.h"
#include "common/tool_common.h"
#include "orlixdb/file_io.h"
#include "orlixdb/index_format.h"
#include "orlixdb/orlixdb.h"
#include "safe_sort/safe_sort.h"
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

/* All of TEXT, or of standard input for "-". */
static bool ReadText(const char* path, const char* name, std::string* text)
{
    FILE* in = strcmp(path, "-") != 0 ? fopen(path, "rb") : stdin;
    if (in == nullptr) return ToolFail(kTool, name, "open", ToolLastError()), false;
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
** What build would replace: nothing (no file, or an empty one), an index
** of some records, or a file that is not an index.  An index is replaced
** only with --force, for `build dictionary.idx words.txt` typed in place
** of `merge` would otherwise throw the dictionary away without a word.
** False, with the message printed, when OUT cannot be looked at.
*/
struct Replaced {
    enum { kNothing, kIndex, kDamagedIndex, kOther } kind;
    size_t records; /* of an intact index */
};

static bool LookAtOut(const char* out, Replaced* replaced)
{
    uint8_t* data = nullptr;
    size_t size = 0;
    FileStatus status = {nullptr, nullptr, 0};
    enum FileRead read = FileReadWhole(out, kIndexMaxFile, &data, &size, &status);
    IndexScan scan;
    *replaced = Replaced{Replaced::kNothing, 0};
    if (read == kFileTooLarge || (read == kFileReadOk && size > 0)) replaced->kind = Replaced::kOther;
    if (replaced->kind != Replaced::kNothing && read == kFileReadOk && size >= sizeof kIndexMagic &&
        memcmp(data, kIndexMagic, sizeof kIndexMagic) == 0) {
        bool intact = IndexCheck(data, size, &scan) == kIndexFine;
        replaced->kind = intact ? Replaced::kIndex : Replaced::kDamagedIndex;
        replaced->records = intact ? scan.count : 0;
    }
    free(data);
    if (read == kFileReadOk || read == kFileMissing || read == kFileTooLarge) return true;
    ToolFail(kTool, out, status.action != nullptr ? status.action : "read", status.error);
    return false;
}

/* What OUT holds, in words: "an index of 3 records", "not an index". */
static std::string ReplacedWords(const Replaced& r)
{
    switch (r.kind) {
    case Replaced::kIndex: return "an index of " + ToolCount(r.records, "record");
    case Replaced::kDamagedIndex: return "a damaged index";
    default: return "not an index";
    }
}

/* Skip a UTF-8 byte-order mark, which editors on Windows put first. */
static size_t SkipByteOrderMark(const std::string& text, const char* name)
{
    if (text.compare(0, 3, "\xEF\xBB\xBF") != 0) return 0;
    ToolSay(kTool, std::string(name) + ": skipped the UTF-8 byte-order mark at its start");
    return 3;
}

static int32_t RecordOrder(const void* a, const void* b, void*)
{
    return CompareHeadwords(((const IndexRecord*)a)->key, ((const IndexRecord*)b)->key);
}

static int Build(const char* out, const char* textPath, bool keepOrder, bool force, bool quiet)
{
    const char* name = strcmp(textPath, "-") != 0 ? textPath : "(standard input)";
    Replaced replaced;
    if (!LookAtOut(out, &replaced)) return kExitFailure;
    if (replaced.kind != Replaced::kNothing && !force) {
        ToolSay(kTool, std::string(out) + " exists and is " + ReplacedWords(replaced) +
                           "; --force replaces it" +
                           (replaced.kind == Replaced::kIndex ? ", merge adds to it" : ""));
        return kExitFailure;
    }
    std::string text;
    if (!ReadText(textPath, name, &text)) return kExitFailure;

    std::vector<std::string> keys;
    std::vector<uint32_t> references;
    size_t line = 0;
    for (size_t at = SkipByteOrderMark(text, name); at < text.size(); line++) {
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
    if (!keepOrder) {
        /* The collation is not a strict weak order on every input: the safe sort. */
        std::vector<const void*> scratch(items.size());
        SafeStableSort((const void**)items.data(), items.size(), scratch.data(), RecordOrder, nullptr);
    }
    uint64_t size = IndexImageSize(items.data(), items.size());
    if (size == 0) return Fail(out, "too many records for one index");
    std::vector<uint8_t> image((size_t)size);
    IndexWriteImage(image.data(), items.data(), items.size());
    FileStatus status = {nullptr, nullptr, 0};
    if (!FileReplace(out, image.data(), image.size(), &status))
        return Fail(status.path, StatusText(status.action, status.error).c_str());
    if (!quiet)
        printf("%s: %s, %s%s\n", out, ToolCount(items.size(), "record").c_str(),
               keepOrder ? "in the order given" : "in headword order",
               replaced.kind == Replaced::kNothing
                   ? ""
                   : ("; it was " + ReplacedWords(replaced)).c_str());
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
    {0, "missing-ok", false, "      --missing-ok  a missing SOURCE counts as empty and is no failure\n"},
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
    for (const char* operand : op)
        if (operand[0] == 0 && command - kCommandTable != kExplain && command - kCommandTable != kFind)
            return ToolUsage(kTool, command->name, "an empty operand names no file");
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
            return MergeDryRunCommand(op[0], (int)op.size() - 1, (char**)op.data() + 1,
                                      option("missing-ok"));
        return MergeCommand(op[0], (int)op.size() - 1, (char**)op.data() + 1, option("quiet"),
                            option("missing-ok"));
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
