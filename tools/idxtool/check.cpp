/*
** idxtool check [--lookup] FILE: is the index intact and in order, and
** can a reader find every key of it?
**
** A reader looks a key up by binary search with the collation.  The
** collation is not a strict weak ordering on every input (some keys of
** spaces and punctuation compare cyclically), so an index whose
** neighbours are all in order can still hold keys the search turns away
** from.  This looks up every key exactly as a reader does and names those.
*/
#include <stdio.h>
#include <string.h>

#include "collation/compare_headwords.h"
#include "common/tool_common.h"
#include "commands.h"
#include "editor_commands.h"
#include "loaded_index.h"
#include "record_text.h"

static bool SameKey(const IndexRecord& a, const IndexRecord& b)
{
    return a.length == b.length && memcmp(a.key, b.key, a.length) == 0;
}

/* The run of records comparing 0 with `r` around position `mid`: does it hold r's key? */
static bool EqualRunHolds(const std::vector<IndexRecord>& records, size_t mid, const IndexRecord& r)
{
    for (size_t n = mid + 1; n-- > 0 && CompareHeadwords(r.key, records[n].key) == 0;)
        if (SameKey(records[n], r)) return true;
    for (size_t n = mid + 1; n < records.size() && CompareHeadwords(r.key, records[n].key) == 0; n++)
        if (SameKey(records[n], r)) return true;
    return false;
}

/* Look up record `at` by binary search; false with *miss filled when it is not reached. */
static bool Reachable(const std::vector<IndexRecord>& records, size_t at, UnreachableKey* miss)
{
    const IndexRecord& r = records[at];
    size_t low = 0, high = records.size();
    bool misled = false;
    *miss = UnreachableKey{at, 0, 0, false};
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        int32_t c = CompareHeadwords(r.key, records[mid].key);
        if (c == 0) {
            if (EqualRunHolds(records, mid, r)) return true;
            if (!misled) *miss = UnreachableKey{at, mid, 0, true};
            return false;
        }
        if (!misled && (c < 0 ? at > mid : at < mid)) {
            *miss = UnreachableKey{at, mid, c, false};
            misled = true;
        }
        if (c < 0)
            high = mid;
        else
            low = mid + 1;
    }
    return false;
}

std::vector<UnreachableKey> FindUnreachableKeys(const std::vector<IndexRecord>& records)
{
    std::vector<UnreachableKey> missed;
    UnreachableKey miss;
    for (size_t n = 0; n < records.size(); n++)
        if (!Reachable(records, n, &miss)) missed.push_back(miss);
    return missed;
}

static std::string Key(const IndexRecord& r)
{
    std::string text = "'";
    FormatKeyText(r.key, r.length, &text);
    return text + "'";
}

static std::string Rule(const IndexRecord& a, const IndexRecord& b)
{
    HeadwordExplanation e;
    CompareHeadwordsExplained(a.key, b.key, &e);
    return HeadwordRuleName(e.rule);
}

/* The ordinary checks: format and checksum (in the load), then every neighbour in order. */
static bool CheckOrder(const char* path, const LoadedIndex& index)
{
    const std::vector<IndexRecord>& r = index.records;
    std::vector<const char*> keys(r.size());
    for (size_t n = 0; n < r.size(); n++) keys[n] = r[n].key;
    size_t n = FirstOutOfOrder(keys.data(), keys.size(), false);
    if (n == r.size()) return true;
    std::string first, second;
    FormatRecordLine(r[n - 1].key, r[n - 1].length, r[n - 1].reference, &first);
    FormatRecordLine(r[n].key, r[n].length, r[n].reference, &second);
    first.pop_back();
    second.pop_back();
    ToolFail("idxtool", path,
             ("out of order: record " + std::to_string(n) + " (" + first + ") sorts after record " +
              std::to_string(n + 1) + " (" + second + ")").c_str(),
             0);
    return false;
}

/* Every key looked up as a reader does; those not found named. */
static int LookUpEveryKey(const char* path, const LoadedIndex& index)
{
    const std::vector<IndexRecord>& r = index.records;
    std::vector<UnreachableKey> missed = FindUnreachableKeys(r);
    for (const UnreachableKey& m : missed) {
        const IndexRecord& key = r[m.record];
        const IndexRecord& probe = r[m.misleading];
        std::string why;
        if (m.equalRun)
            why = "the search met record " + std::to_string(m.misleading + 1) + " " + Key(probe) +
                  ", which sorts together with it, and the records sorting together there do "
                  "not include it";
        else
            why = "at record " + std::to_string(m.misleading + 1) + " " + Key(probe) +
                  " the collation gave " + std::to_string(m.comparison) + " (" + Rule(key, probe) +
                  ") and the search went " + (m.comparison < 0 ? "left" : "right") + ", away from it";
        printf("%s: record %zu %s is not found by binary search: %s\n", path, m.record + 1,
               Key(key).c_str(), why.c_str());
    }
    printf("%s: %zu of %s not found by binary search\n", path, missed.size(),
           ToolCount(r.size(), "key").c_str());
    if (ToolFinishOutput("idxtool") != kToolOk) return kToolFailure;
    return missed.empty() ? kToolOk : kToolFailure;
}

int CheckCommand(const char* path, bool lookup)
{
    LoadedIndex index;
    std::string problem;
    if (LoadIndexFile(path, false, &index, &problem) != nullptr)
        return ToolFail("idxtool", path, problem.c_str(), 0);
    if (!CheckOrder(path, index)) return kToolFailure;
    printf("%s: ok, %s in order\n", path, ToolCount(index.records.size(), "record").c_str());
    if (ToolFinishOutput("idxtool") != kToolOk) return kToolFailure;
    return lookup ? LookUpEveryKey(path, index) : kToolOk;
}

static int RunCheck(const IdxtoolOptions& o, const std::vector<const char*>& op)
{
    return CheckCommand(op[0], o.lookup);
}

static const ToolOption kCheckOptions[] = {
    {0, "lookup", kToolNoValue, ToolSetFlag<IdxtoolOptions, &IdxtoolOptions::lookup>,
     "      --lookup       then look every key up by binary search as a reader\n"
     "                     does, and name the keys not found\n"},
    {0, nullptr, kToolNoValue, nullptr, nullptr},
};

extern const IdxtoolCommand kCheckCommand = {
    {"check", "FILE", 1, 1, false, kCheckOptions,
     "  Check the format, checksum and headword order of FILE.\n"},
    -1, -1, RunCheck};
