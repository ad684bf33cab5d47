/*
** idxtool find: every record of a headword.  The records of one headword
** differ only in case, suffix and the whitespace at their ends, and they
** need not stand together: a key with other leading punctuation ('-Bank')
** can sort between 'Bank' and 'bank', and since whitespace at the end of
** one key is ignored only against a key that has ended, "b\r" sorts with
** "b" yet after "b\tx", which sorts after "b".  No binary search can find
** such a scattered set, so every record is read: the order check that
** comes first reads them all anyway.
*/
#include <stdio.h>
#include <string.h>

#include "collation/byte_classes.h"
#include "collation/compare_headwords.h"
#include "common/tool_common.h"
#include "commands.h"
#include "editor_commands.h"
#include "loaded_index.h"
#include "record_text.h"

/*
** The headword of a key as an editor means it: A-Z folded to a-z,
** everything from the first "@" cut off, and the whitespace at both ends
** of what is left dropped, whatever mix of spaces and tabs it is.
*/
static std::string Headword(const char* key)
{
    while (IsWhitespace(ByteAt(key))) key++;
    std::string h;
    for (; !IsEndByte(ByteAt(key)); key++) h.push_back((char)Fold(ByteAt(key)));
    while (!h.empty() && IsWhitespace(ByteAt(&h.back()))) h.pop_back();
    return h;
}

std::vector<size_t> FindHeadword(const std::vector<IndexRecord>& records, const std::string& key)
{
    std::string headword = Headword(key.c_str());
    std::vector<size_t> found;
    for (size_t n = 0; n < records.size(); n++)
        if (CompareHeadwords(Headword(records[n].key).c_str(), headword.c_str()) == 0) found.push_back(n);
    return found;
}

int FindCommand(const char* path, const char* keyText)
{
    std::string key, problem;
    const char* bad = ParseKeyText(keyText, strlen(keyText), &key);
    if (bad != nullptr) return ToolUsage("idxtool", "find", ("key '" + std::string(keyText) + "': " + bad).c_str());
    LoadedIndex index;
    if (LoadIndexFile(path, false, &index, &problem) != nullptr)
        return ToolFail("idxtool", path, problem.c_str(), 0);
    problem = OrderProblem(index);
    if (!problem.empty()) return ToolFail("idxtool", path, problem.c_str(), 0);
    std::vector<size_t> found = FindHeadword(index.records, key);
    std::string text;
    for (size_t n : found) {
        const IndexRecord& r = index.records[n];
        FormatRecordLine(r.key, r.length, r.reference, &text);
    }
    ToolWrite(text.data(), text.size());
    if (ToolFinishOutput("idxtool") != kToolOk) return kToolFailure;
    if (!found.empty()) return kToolOk;
    return ToolFail("idxtool", path, ("no record of '" + std::string(keyText) + "'").c_str(), 0);
}

static int RunFind(const IdxtoolOptions&, const std::vector<const char*>& op)
{
    if (op[1][0] == 0) return ToolUsage("idxtool", "find", "KEY is empty");
    return FindCommand(op[0], op[1]);
}

extern const IdxtoolCommand kFindCommand = {
    {"find", "FILE KEY", 2, 2, true, nullptr,
     "  Print the records of FILE whose key differs from KEY only in case,\n"
     "  numeric suffix and whitespace at either end: exit 0 found, 1 none, FILE\n"
     "  not in headword order or not loaded. KEY may begin with '-'.\n"},
    1, -1, RunFind};
