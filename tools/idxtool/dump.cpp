/* idxtool dump FILE: the records of an index in the text form build reads. */
#include <string>

#include "common/tool_common.h"
#include "commands.h"
#include "loaded_index.h"
#include "record_text.h"

static int RunDump(const IdxtoolOptions&, const std::vector<const char*>& op)
{
    LoadedIndex index;
    std::string problem;
    if (LoadIndexFile(op[0], false, &index, &problem) != nullptr)
        return ToolFail("idxtool", op[0], problem.c_str(), 0);
    std::string text;
    for (const IndexRecord& r : index.records) FormatRecordLine(r.key, r.length, r.reference, &text);
    ToolWrite(text.data(), text.size());
    return ToolFinishOutput("idxtool");
}

extern const IdxtoolCommand kDumpCommand = {
    {"dump", "FILE", 1, 1, false, nullptr,
     "  Print the records of FILE in the text form build reads; characters that\n"
     "  show as nothing or turn the text around are written as their bytes.\n"},
    -1, -1, RunDump};
