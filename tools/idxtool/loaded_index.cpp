#include "loaded_index.h"

#include <stdlib.h>

#include "common/tool_common.h"
#include "orlixdb/file_io.h"

/* Why a file could not be read, with the system's reason when there is one. */
static std::string FileReadWords(enum FileRead read, const FileStatus& status)
{
    switch (read) {
    case kFileMissing: return "no such file";
    case kFileTooLarge: return "larger than an index may be (2 GiB)";
    case kFileNoMemory: return "out of memory";
    default: return ToolStepText(status.action != nullptr ? status.action : "read", status.error);
    }
}

std::string IndexProblemWords(int32_t problem, uint32_t badRecord)
{
    std::string text = IndexProblemText((enum IndexProblem)problem);
    if (problem >= kIndexEmptyKey && problem <= kIndexRecordOverrun)
        text += " (record " + std::to_string(badRecord + 1) + ")";
    return text;
}

std::string OrderProblem(const LoadedIndex& index)
{
    std::vector<const char*> keys;
    for (const IndexRecord& r : index.records) keys.push_back(r.key);
    size_t n = FirstOutOfOrder(keys.data(), keys.size(), false);
    if (n == keys.size()) return "";
    return "not in headword order at record " + std::to_string(n + 1) + "; see idxtool check";
}

const char* LoadIndexFile(const char* path, bool missingIsEmpty, LoadedIndex* index,
                          std::string* problem)
{
    uint8_t* data = nullptr;
    size_t size = 0;
    FileStatus status = {nullptr, nullptr, 0};
    enum FileRead read = FileReadWhole(path, kIndexMaxFile, &data, &size, &status);
    index->missing = read == kFileMissing;
    if (index->missing && missingIsEmpty) return nullptr;
    if (read != kFileReadOk) return *problem = FileReadWords(read, status), problem->c_str();
    index->bytes.assign(data, data + size);
    free(data);

    IndexScan scan;
    if (IndexCheck(index->bytes.data(), size, &scan) != kIndexFine) {
        *problem = IndexProblemWords(scan.problem, scan.badRecord);
        return problem->c_str();
    }
    index->arena.resize(scan.keyBytes + scan.count + 1);
    index->records.resize(scan.count);
    IndexLoad(index->bytes.data(), &scan, index->records.data(), index->arena.data());
    return nullptr;
}
