/*
** An index file read whole, checked and turned into records, for the
** editor commands.
*/
#ifndef IDXTOOL_LOADED_INDEX_H
#define IDXTOOL_LOADED_INDEX_H

#include <stdint.h>

#include <string>
#include <vector>

#include "orlixdb/index_format.h"

struct LoadedIndex {
    std::vector<uint8_t> bytes;
    std::vector<char> arena;
    std::vector<IndexRecord> records;
    bool missing; /* no such file; records is empty */
};

/*
** Load `path`.  Returns null on success, else the problem in words.  With
** missingIsEmpty, a missing file loads as an index of no records, as the
** index job takes it.
*/
const char* LoadIndexFile(const char* path, bool missingIsEmpty, LoadedIndex* index,
                          std::string* problem);

/*
** Where an index leaves headword order: "not in headword order at record
** N; see idxtool check", N counted from 1, or empty when it is in order.
** A binary search over such an index can miss keys that are there, so
** the commands that search refuse it rather than answer "no record".
*/
std::string OrderProblem(const LoadedIndex& index);

/* The problem of a file that is not an intact index, with the record at fault. */
std::string IndexProblemWords(int32_t problem, uint32_t badRecord);

#endif
