/*
** The host's stand-in for the platform: a registry that answers like
** RegQueryValueExA and a DbOrdinal12 that records its call.
*/
#ifndef ORLIX_TESTS_REGISTRY_DOUBLE_H
#define ORLIX_TESTS_REGISTRY_DOUBLE_H

#include <string>
#include <vector>

#include "platform/platform.h"

struct RecordedJob {
    int calls = 0;
    std::string target;
    int32_t count = -1;
    std::vector<std::string> sources;
    OrlixKeyCompare compare = nullptr;
};

void ResetRegistry();
void AddKey(const std::string& subKey);
/* Adds the key too.  `data` is stored as given: no terminator is added. */
void SetValue(const std::string& subKey, const std::string& name, const std::string& data,
              uint32_t type = kPlatformRegSz);
void SetLibraryResult(int32_t result);

/* "open KEY", "read NAME", "close", "job", separated by "; ". */
std::string CallLog();
int OpenKeys();
int MostKeysOpenAtOnce();
const RecordedJob& Job();

#endif
