/*
** idxtool check --lookup: can a reader find every key of the index?
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

int CheckLookupCommand(const char* path)
{
    LoadedIndex index;
    std::string problem;
    if (LoadIndexFile(path, false, &index, &problem) != nullptr) {
        fprintf(stderr, "idxtool: %s: %s\n", path, problem.c_str());
        return 1;
    }
    problem = OrderProblem(index);
    if (!problem.empty()) {
        fprintf(stderr, "idxtool: %s: %s\n", path, problem.c_str());
        return 1;
    }
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
    printf("%s: %zu of %zu keys not found by binary search\n", path, missed.size(), r.size());
    if (ToolFinishOutput("idxtool") != kToolOk) return 1;
    return missed.empty() ? 0 : 1;
}
