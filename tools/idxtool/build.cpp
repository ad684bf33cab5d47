/*
** idxtool build OUT TEXT: an index from its text form.  OUT is replaced
** only when that loses nothing: never when it is TEXT itself, and, unless
** --force, only when it is missing or empty.
*/
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "collation/compare_headwords.h"
#include "common/tool_common.h"
#include "orlixdb/file_io.h"
#include "orlixdb/index_format.h"
#include "safe_sort/record_sort.h"
#include "commands.h"
#include "record_text.h"

static const char kTool[] = "idxtool";

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
static bool ReadRecords(const std::string& text, size_t start, const char* name, bool keepOrder,
                        BuiltRecords* built)
{
    RecordSortSettings settings = {keepOrder ? InputOrder : KeyOrder, nullptr, 1, 0, nullptr};
    RecordSort* sort = RecordSortBegin(&settings);
    if (sort == nullptr) return ToolFail(kTool, name, "out of memory", 0), false;
    built->sort = sort;
    RecordSortStatus status = {nullptr, 0};
    std::string key;
    size_t line = 0, keyBytes = 0;
    bool read = true;
    for (size_t at = start; at < text.size() && read; line++) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        uint32_t reference = 0;
        const char* problem = ParseRecordLine(text.data() + at, end - at, &key, &reference);
        if (problem != nullptr) {
            std::string where = std::string(name) + ":" + std::to_string(line + 1);
            ToolFail(kTool, where.c_str(), problem, 0);
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
    Replaced replaced;
    if (!LookAtOut(out, &replaced)) return kToolFailure;
    if (replaced.kind != Replaced::kNothing && !force) {
        ToolSay(kTool, std::string(out) + " exists and is " + ReplacedWords(replaced) +
                           "; --force replaces it" +
                           (replaced.kind == Replaced::kIndex ? ", merge adds to it" : ""));
        return kToolFailure;
    }
    std::string text;
    if (!ReadText(textPath, name, &text)) return kToolFailure;
    BuiltRecords built = {nullptr, false, std::string(), std::vector<IndexRecord>()};
    bool read = ReadRecords(text, SkipByteOrderMark(text, name), name, keepOrder, &built);
    std::unique_ptr<RecordSort, void (*)(RecordSort*)> ending(built.sort, RecordSortEnd);
    if (!read) return kToolFailure;
    std::string().swap(text);
    std::vector<const IndexRecord*> items(built.records.size());
    for (size_t n = 0; n < items.size(); n++) items[n] = &built.records[n];
    uint64_t size = IndexImageSize(items.data(), items.size());
    if (size == 0) return ToolFail(kTool, out, "too many records for one index", 0);
    std::vector<uint8_t> image((size_t)size);
    IndexWriteImage(image.data(), items.data(), items.size());
    FileStatus status = {nullptr, nullptr, 0};
    if (!FileReplace(out, image.data(), image.size(), &status))
        return ToolFail(kTool, status.path, status.action != nullptr ? status.action : "failed", status.error);
    if (!quiet)
        printf("%s: %s, %s%s\n", out, ToolCount(items.size(), "record").c_str(),
               keepOrder ? "in the order given" : "in headword order",
               replaced.kind == Replaced::kNothing
                   ? ""
                   : ("; it was " + ReplacedWords(replaced)).c_str());
    return ToolFinishOutput(kTool);
}

/*
** A build that would write over its own text: OUT and TEXT (or standard
** input) are the same file, by whatever names.
*/
static int BuildOverInput(const char* out, const char* text)
{
    bool fromStdin = strcmp(text, "-") == 0;
    if (!ToolSameFile(out, fromStdin ? nullptr : text)) return kToolOk;
    std::string input = fromStdin ? "standard input" : "TEXT '" + std::string(text) + "'";
    std::string problem = std::string("OUT '") + out + "' is " + input + ", the same file";
    return ToolUsage(kTool, "build", problem.c_str());
}

static int RunBuild(const IdxtoolOptions& o, const std::vector<const char*>& op)
{
    int status = BuildOverInput(op[0], op[1]);
    if (status != kToolOk) return status;
    return Build(op[0], op[1], o.keepOrder, o.force, o.quiet);
}

static const ToolOption kBuildOptions[] = {
    {'q', "quiet", kToolNoValue, ToolSetFlag<IdxtoolOptions, &IdxtoolOptions::quiet>,
     "  -q, --quiet        print nothing on success\n"},
    {0, "keep-order", kToolNoValue, ToolSetFlag<IdxtoolOptions, &IdxtoolOptions::keepOrder>,
     "      --keep-order   store the records in the order given (for test files)\n"},
    {0, "force", kToolNoValue, ToolSetFlag<IdxtoolOptions, &IdxtoolOptions::force>,
     "      --force        replace OUT even when it is an index or not empty\n"},
    {0, nullptr, kToolNoValue, nullptr, nullptr},
};

extern const IdxtoolCommand kBuildCommand = {
    {"build", "OUT TEXT", 2, 2, false, kBuildOptions,
     "  Make index OUT from TEXT (\"-\": standard input), one record a line:\n"
     "  KEY <TAB> REFERENCE. The records are stored in headword order; records\n"
     "  of equal keys keep their order in TEXT. A UTF-8 byte-order mark that\n"
     "  starts TEXT is skipped. OUT is replaced only when it is missing or\n"
     "  empty, or with --force (which says what it replaced), and never when\n"
     "  it is TEXT itself.\n"},
    -1, 1, RunBuild};
