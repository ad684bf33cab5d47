#include "registry_double.h"

#include <cstring>
#include <map>

namespace {

enum { kFileNotFound = 2, kInvalidHandle = 6 };

struct Value {
    std::string data;
    uint32_t type;
};

std::map<std::string, std::map<std::string, Value>> keys;
std::map<PlatformKey, std::string> handles;
std::string log;
int mostOpen;
int nextHandle;
int32_t libraryResult;
RecordedJob job;

void Log(const std::string& entry)
{
    if (!log.empty()) log += "; ";
    log += entry;
}

}  // namespace

void ResetRegistry()
{
    keys.clear();
    handles.clear();
    log.clear();
    mostOpen = 0;
    nextHandle = 0;
    libraryResult = 0;
    job = RecordedJob();
}

void AddKey(const std::string& subKey) { keys[subKey]; }

void SetValue(const std::string& subKey, const std::string& name, const std::string& data,
              uint32_t type)
{
    keys[subKey][name] = Value{data, type};
}

void SetLibraryResult(int32_t result) { libraryResult = result; }
std::string CallLog() { return log; }
int OpenKeys() { return (int)handles.size(); }
int MostKeysOpenAtOnce() { return mostOpen; }
const RecordedJob& Job() { return job; }

int32_t PlatformOpenKey(const char* subKey, PlatformKey* key)
{
    Log(std::string("open ") + subKey);
    if (keys.count(subKey) == 0) return kFileNotFound;
    PlatformKey handle = (PlatformKey)(uintptr_t)(0x1000 + 16 * ++nextHandle);
    handles[handle] = subKey;
    if ((int)handles.size() > mostOpen) mostOpen = (int)handles.size();
    *key = handle;
    return kPlatformSuccess;
}

/*
** Like RegQueryValueExA: stores at most *size bytes and never adds a
** terminator.  The bytes of the buffer beyond the data are left as they
** were; here they are first filled with 'X', as stale stack would be.
*/
int32_t PlatformReadValue(PlatformKey key, const char* name, uint32_t* type, uint8_t* data,
                          uint32_t* size)
{
    Log(std::string("read ") + name + " " + std::to_string(*size) + " " +
        std::to_string(*type));
    auto h = handles.find(key);
    if (h == handles.end()) return kInvalidHandle;
    auto& values = keys[h->second];
    auto v = values.find(name);
    if (v == values.end()) return kFileNotFound;
    memset(data, 'X', *size);
    uint32_t needed = (uint32_t)v->second.data.size();
    uint32_t room = *size;
    *size = needed;
    *type = v->second.type;
    if (needed > room) return kPlatformMoreData;
    memcpy(data, v->second.data.data(), needed);
    return kPlatformSuccess;
}

void PlatformCloseKey(PlatformKey key)
{
    Log("close");
    if (handles.erase(key) == 0) Log("close of an unknown handle");
}

/* Defined against the contract's declaration (through platform.h). */
extern "C" int32_t ORLIX_CALL DbOrdinal12(const char* target, int32_t count,
                                          const char* const* sources, OrlixKeyCompare compare)
{
    Log("job");
    job.calls++;
    job.target = target;
    job.count = count;
    for (int32_t i = 0; i < count; i++) job.sources.push_back(sources[i]);
    job.compare = compare;
    return libraryResult;
}
