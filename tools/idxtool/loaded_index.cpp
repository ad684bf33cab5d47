#include "loaded_index.h"

#include <stdlib.h>

#include "orlixdb/file_io.h"

static const char* FileReadText(enum FileRead read)
{
    switch (read) {
    case kFileMissing: return "no such file";
    case kFileTooLarge: return "larger than an index may be (2 GiB)";
    case kFileNoMemory: return "out of memory";
    default: return "cannot read";
    }
}

const char* LoadIndexFile(const char* path, bool missingIsEmpty, LoadedIndex* index,
                          std::string* problem)
{
    uint8_t* data = nullptr;
    size_t size = 0;
    enum FileRead read = FileReadWhole(path, kIndexMaxFile, &data, &size);
    index->missing = read == kFileMissing;
    if (index->missing && missingIsEmpty) return nullptr;
    if (read != kFileReadOk) return *problem = FileReadText(read), problem->c_str();
    index->bytes.assign(data, data + size);
    free(data);

    IndexScan scan;
    if (IndexCheck(index->bytes.data(), size, &scan) != kIndexFine) {
        *problem = IndexProblemText(scan.problem);
        if (scan.problem >= kIndexEmptyKey && scan.problem <= kIndexRecordOverrun)
            *problem += " (record " + std::to_string(scan.badRecord + 1) + ")";
        return problem->c_str();
    }
    index->arena.resize(scan.keyBytes + scan.count + 1);
    index->records.resize(scan.count);
    IndexLoad(index->bytes.data(), &scan, index->records.data(), index->arena.data());
    return nullptr;
}
