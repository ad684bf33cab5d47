#include "line_sort.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "collation/compare_headwords.h"
#include "record_sort.h"

#ifndef O_BINARY
#define O_BINARY 0
#endif

/* ---- reading lines ---------------------------------------------------- */

/*
** One input read a buffer at a time.  A line handed out lies whole in the
** buffer with a NUL in place of its end, so its key can be compared where
** it lies; a line longer than the buffer grows it.
*/
struct LineReader {
    int fd;
    const char* name;
    std::vector<char> buffer;
    size_t at, filled;
    bool ended;
};

static bool ReaderOpen(LineReader* r, const char* name, LineSortProblem* problem)
{
    r->name = name;
    r->at = r->filled = 0;
    r->ended = false;
    r->buffer.resize(1 << 16);
    if (strcmp(name, "-") == 0) {
        r->fd = 0;
#if defined(_WIN32)
        _setmode(0, O_BINARY);
#endif
        return true;
    }
    r->fd = open(name, O_RDONLY | O_BINARY);
    if (r->fd >= 0) return true;
    problem->what = name, problem->step = "open", problem->error = errno;
    return false;
}

static void ReaderClose(LineReader* r)
{
    if (r->fd > 0) close(r->fd);
    r->fd = -1;
}

/*
** The next line and its length, or false at the end (problem->step set on
** a read error).  A last line without an end is a line.
*/
static bool NextLine(LineReader* r, char end, char** line, size_t* length, LineSortProblem* problem)
{
    for (size_t searched = 0;;) {
        char* start = r->buffer.data() + r->at;
        char* found = (char*)memchr(start + searched, end, r->filled - r->at - searched);
        if (found != nullptr || (r->ended && r->filled > r->at)) {
            if (found == nullptr) found = r->buffer.data() + r->filled++; /* room kept below */
            *found = 0;
            *line = start, *length = (size_t)(found - start);
            r->at = (size_t)(found - r->buffer.data()) + 1;
            return true;
        }
        if (r->ended) return false;
        searched = r->filled - r->at;
        memmove(r->buffer.data(), start, searched);
        r->filled = searched, r->at = 0;
        if (r->buffer.size() - r->filled < (1 << 15)) r->buffer.resize(r->buffer.size() * 2);
        ssize_t got;
        do
            got = read(r->fd, r->buffer.data() + r->filled, (unsigned)(r->buffer.size() - r->filled - 1));
        while (got < 0 && errno == EINTR);
        if (got < 0) {
            problem->what = r->name, problem->step = "read", problem->error = errno;
            return false;
        }
        if (got == 0) r->ended = true;
        r->filled += (size_t)got;
    }
}

/* ---- keys ------------------------------------------------------------- */

static bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

/*
** The end of the field that starts at p: the next separator with -t, else
** the end of the blanks and then of the other bytes that follow them.
*/
static const char* FieldEnd(const char* p, int separator)
{
    if (separator >= 0) {
        while (*p != 0 && *p != (char)separator) p++;
        return p;
    }
    while (IsBlank(*p)) p++;
    while (*p != 0 && !IsBlank(*p)) p++;
    return p;
}

/*
** Fields first to last of the line, as sort(1) takes them: with -t, the
** bytes between separators; without, each field with its leading blanks.
** A line with fewer fields has a shorter key, or an empty one.
*/
static const char* FieldKey(const char* line, const LineSortKey* key, int separator, size_t* length)
{
    const char* p = line;
    for (unsigned long n = 1; n < key->first && *p != 0; n++) {
        p = FieldEnd(p, separator);
        if (*p != 0 && separator >= 0) p++;
    }
    const char* end = p;
    for (unsigned long n = key->first; (key->last == 0 || n <= key->last) && *end != 0; n++) {
        if (n > key->first && separator >= 0) end++;
        end = FieldEnd(end, separator);
    }
    *length = (size_t)(end - p);
    return p;
}

/*
** The record of a line (NUL in place of its end).  Without keys the key is
** the line up to its first NUL and the payload the rest, so that key and
** payload together are the line; with keys, the key is one part per key
** (built in `keys`) and the payload the whole line.
*/
struct LineRecord {
    const char* key;
    size_t keySize;
    const char* payload;
    size_t payloadSize;
};

static LineRecord MakeRecord(const LineSortOptions* o, const char* line, size_t length, std::string* keys)
{
    if (o->keys.empty()) {
        size_t k = strlen(line);
        return LineRecord{line, k + 1, line + k, length - k};
    }
    keys->clear();
    for (const LineSortKey& key : o->keys) {
        size_t n;
        const char* field = FieldKey(line, &key, o->fieldSeparator, &n);
        keys->append(field, n);
        keys->push_back(0);
    }
    return LineRecord{keys->data(), keys->size(), line, length};
}

/* ---- order ------------------------------------------------------------ */

struct LineOrder {
    unsigned parts;
    bool reverse;
};

static int32_t Forward(const void* a, const void* b, void*)
{
    return CompareHeadwords((const char*)a, (const char*)b);
}

/* Key by key, each one's verdict flipped in sign only with -r. */
static int32_t ByParts(const void* a, const void* b, void* context)
{
    const LineOrder* order = (const LineOrder*)context;
    const char *x = (const char*)a, *y = (const char*)b;
    for (unsigned n = 0;; n++) {
        int32_t c = CompareHeadwords(x, y);
        if (c != 0) return order->reverse ? (c < 0) - (c > 0) : c;
        if (n + 1 == order->parts) return 0;
        x += strlen(x) + 1, y += strlen(y) + 1;
    }
}

static SafeSortCompare CompareFor(const LineOrder* order)
{
    return order->parts == 1 && !order->reverse ? Forward : ByParts;
}

/* ---- writing ---------------------------------------------------------- */

/* -u: the key of the last line written, to drop the lines equal to it. */
struct LineOutput {
    const LineSortOptions* options;
    const LineOrder* order;
    LineSink sink;
    void* context;
    std::string kept;
    bool any;
};

static size_t KeySize(const char* key, unsigned parts)
{
    const char* p = key;
    for (unsigned n = 0; n < parts; n++) p += strlen(p) + 1;
    return (size_t)(p - key);
}

static bool WriteRecord(const char* key, const char* payload, size_t payloadSize, void* context)
{
    LineOutput* out = (LineOutput*)context;
    const LineSortOptions* o = out->options;
    if (o->unique) {
        if (out->any && CompareFor(out->order)(out->kept.data(), key, (void*)out->order) == 0) return true;
        out->kept.assign(key, KeySize(key, out->order->parts));
        out->any = true;
    }
    if (!o->keys.empty()) return out->sink(payload, payloadSize, out->context);
    size_t k = strlen(key);
    if (payloadSize == 0) return out->sink(key, k, out->context);
    std::string line(key, k);
    line.append(payload, payloadSize);
    return out->sink(line.data(), line.size(), out->context);
}

/* ---- the three jobs --------------------------------------------------- */

static int Trouble(LineSortProblem* problem, const std::string& what, const RecordSortStatus* status)
{
    problem->what = what, problem->step = status->action, problem->error = status->error;
    return kLineSortTrouble;
}

static int SortFiles(const LineSortOptions* o, const LineOrder* order, const char* const* files, size_t count,
                     LineOutput* out, LineSortProblem* problem)
{
    RecordSortSettings settings = {CompareFor(order), (void*)order, order->parts, o->bufferBytes, o->tempDir};
    RecordSort* sort = RecordSortBegin(&settings);
    if (sort == nullptr) return problem->what = "input", problem->step = "out of memory", kLineSortTrouble;
    std::string keys;
    RecordSortStatus status = {nullptr, 0};
    int result = kLineSortOk;
    std::string where = o->tempDir != nullptr ? o->tempDir : "temporary directory";
    for (size_t i = 0; i < count && result == kLineSortOk; i++) {
        LineReader reader;
        if (!ReaderOpen(&reader, files[i], problem)) {
            result = kLineSortTrouble;
            break;
        }
        char* line;
        size_t length;
        problem->step = nullptr;
        while (result == kLineSortOk && NextLine(&reader, o->lineEnd, &line, &length, problem)) {
            LineRecord r = MakeRecord(o, line, length, &keys);
            if (!RecordSortAdd(sort, r.key, r.keySize, r.payload, r.payloadSize, &status))
                result = Trouble(problem, where, &status);
        }
        if (result == kLineSortOk && problem->step != nullptr) result = kLineSortTrouble;
        ReaderClose(&reader);
    }
    if (result == kLineSortOk && !RecordSortFinish(sort, WriteRecord, out, &status))
        result = Trouble(problem, status.error != 0 ? where : std::string(), &status);
    RecordSortEnd(sort);
    return result;
}

/* One input of a merge, with the record of its current line. */
struct MergeInput {
    LineReader reader;
    std::string keys;
    LineRecord record;
    bool live;
};

static bool Advance(MergeInput* in, const LineSortOptions* o, LineSortProblem* problem)
{
    char* line;
    size_t length;
    problem->step = nullptr;
    in->live = NextLine(&in->reader, o->lineEnd, &line, &length, problem);
    if (in->live) in->record = MakeRecord(o, line, length, &in->keys);
    return problem->step == nullptr;
}

/*
** -m: the files are taken to be in order already; each step writes the
** current line that sorts first, the earliest file's on a tie, so memory
** holds one line of each file.
*/
static int MergeFiles(const LineSortOptions* o, const LineOrder* order, const char* const* files, size_t count,
                      LineOutput* out, LineSortProblem* problem)
{
    std::vector<MergeInput> inputs(count);
    int result = kLineSortOk;
    for (size_t i = 0; i < count && result == kLineSortOk; i++)
        if (!ReaderOpen(&inputs[i].reader, files[i], problem) || !Advance(&inputs[i], o, problem))
            result = kLineSortTrouble;
    SafeSortCompare compare = CompareFor(order);
    while (result == kLineSortOk) {
        MergeInput* best = nullptr;
        for (MergeInput& in : inputs)
            if (in.live && (best == nullptr || compare(best->record.key, in.record.key, (void*)order) > 0))
                best = &in;
        if (best == nullptr) break;
        const LineRecord& r = best->record;
        if (!WriteRecord(r.key, r.payload, r.payloadSize, out))
            problem->what.clear(), problem->step = "write", problem->error = 0, result = kLineSortTrouble;
        else if (!Advance(best, o, problem))
            result = kLineSortTrouble;
    }
    for (MergeInput& in : inputs) ReaderClose(&in.reader);
    return result;
}

/*
** -c: the first line that sorts before the one above it, or equal to it
** with -u; only two lines are held.
*/
static int CheckFile(const LineSortOptions* o, const LineOrder* order, const char* name, LineSortProblem* problem)
{
    LineReader reader;
    if (!ReaderOpen(&reader, name, problem)) return kLineSortTrouble;
    SafeSortCompare compare = CompareFor(order);
    std::string previous, keys;
    char* line;
    size_t length;
    problem->step = nullptr;
    int result = kLineSortOk;
    for (uint64_t n = 1; NextLine(&reader, o->lineEnd, &line, &length, problem); n++) {
        LineRecord r = MakeRecord(o, line, length, &keys);
        if (n > 1) {
            int32_t c = compare(previous.data(), r.key, (void*)order);
            if (c > 0 || (o->unique && c == 0)) {
                problem->what = name, problem->line = n, problem->text.assign(line, length);
                result = kLineSortDisorder;
                break;
            }
        }
        previous.assign(r.key, r.keySize);
    }
    if (result == kLineSortOk && problem->step != nullptr) result = kLineSortTrouble;
    ReaderClose(&reader);
    return result;
}

int LineSortFiles(const LineSortOptions* options, const char* const* files, size_t count, LineSink sink,
                  void* context, LineSortProblem* problem)
{
    LineOrder order = {options->keys.empty() ? 1u : (unsigned)options->keys.size(), options->reverse};
    if (options->check) return CheckFile(options, &order, count > 0 ? files[0] : "-", problem);
    LineOutput out = {options, &order, sink, context, std::string(), false};
    if (options->merge) return MergeFiles(options, &order, files, count, &out, problem);
    return SortFiles(options, &order, files, count, &out, problem);
}
