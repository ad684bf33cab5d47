/*
** idxtool find: every record of a headword.  The records of one headword
** differ only in case and suffix; they need not stand together, since a
** key with other leading punctuation ('-Bank') can sort between them
** ('Bank' and 'bank').  What does stand together in a sorted index is the
** band of keys that differ from the headword at most in case, suffix and
** leading punctuation: no rule that outranks those three tells them apart.
** A binary search finds where the band starts; the band is then read.
*/
#include <stdio.h>
#include <string.h>

#include "collation/byte_classes.h"
#include "collation/compare_headwords.h"
#include "common/tool_common.h"
#include "editor_commands.h"
#include "loaded_index.h"
#include "record_text.h"

/* A key with A-Z folded to a-z and everything from the first "@" cut off. */
static std::string Headword(const char* key)
{
    std::string h;
    for (; !IsEndByte(ByteAt(key)); key++) h.push_back((char)Fold(ByteAt(key)));
    return h;
}

bool SameHeadword(const char* indexKey, const std::string& key)
{
    return CompareHeadwords(Headword(indexKey).c_str(), Headword(key.c_str()).c_str()) == 0;
}

/*
** Where an index key stands against the band of `headword` (folded and
** cut): 0 inside it, else the sign of the rule that puts it outside.  Case
** and suffix cannot decide between folded, cut keys; leading punctuation,
** the only other rule ranked below case, is ignored.
*/
static int32_t AgainstBand(const char* indexKey, const std::string& headword)
{
    HeadwordExplanation e;
    int32_t result = CompareHeadwordsExplained(Headword(indexKey).c_str(), headword.c_str(), &e);
    return e.rule == kHeadwordRuleLeadingPunctuation ? 0 : result;
}

std::vector<size_t> FindHeadword(const std::vector<IndexRecord>& records, const std::string& key,
                                 size_t* probes)
{
    std::string headword = Headword(key.c_str());
    *probes = 0;
    size_t low = 0, high = records.size();
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        ++*probes;
        if (AgainstBand(records[mid].key, headword) < 0)
            low = mid + 1;
        else
            high = mid;
    }
    /* Read the band both ways from where it starts, in case the search landed inside it. */
    size_t first = low;
    while (first > 0 && (++*probes, AgainstBand(records[first - 1].key, headword) == 0)) first--;
    std::vector<size_t> found;
    for (size_t n = first; n < records.size(); n++) {
        ++*probes;
        if (AgainstBand(records[n].key, headword) != 0) break;
        if (SameHeadword(records[n].key, key)) found.push_back(n);
    }
    return found;
}

int FindCommand(const char* path, const char* keyText)
{
    std::string key, problem;
    const char* bad = ParseKeyText(keyText, strlen(keyText), &key);
    if (bad != nullptr) {
        fprintf(stderr, "idxtool: find: key '%s': %s\n", keyText, bad);
        return 2;
    }
    LoadedIndex index;
    if (LoadIndexFile(path, false, &index, &problem) != nullptr) {
        fprintf(stderr, "idxtool: %s: %s\n", path, problem.c_str());
        return 2;
    }
    problem = OrderProblem(index);
    if (!problem.empty()) {
        fprintf(stderr, "idxtool: %s: %s\n", path, problem.c_str());
        return 1;
    }
    size_t probes = 0;
    std::vector<size_t> found = FindHeadword(index.records, key, &probes);
    std::string text;
    for (size_t n : found) {
        const IndexRecord& r = index.records[n];
        FormatRecordLine(r.key, r.length, r.reference, &text);
    }
    /* 1 says "no record": output that did not arrive is trouble, 2. */
    ToolWrite(text.data(), text.size());
    if (ToolFinishOutput("idxtool") != kToolOk) return 2;
    if (found.empty()) fprintf(stderr, "idxtool: %s: no record of '%s'\n", path, keyText);
    return found.empty() ? 1 : 0;
}
