/*
** The utility's whole contact with the operating system: three registry
** operations under HKEY_LOCAL_MACHINE and the database library's export 12.
**
** On Windows these are RegOpenKeyExA, RegQueryValueExA and RegCloseKey
** (win32_platform.cpp) and OrlixDB.dll bound by ordinal at load time, as
** declared in the contract header.  Host builds link a test double in their
** place.  Statuses are Win32 error codes:
** 0 is success, anything else a failure.
*/
#ifndef ORLIX_PLATFORM_PLATFORM_H
#define ORLIX_PLATFORM_PLATFORM_H

#include <stdint.h>

#include "contract/orlixdb_export12.h"

typedef struct PlatformKeyTag* PlatformKey;

enum {
    kPlatformSuccess = 0,
    kPlatformMoreData = 234,  /* ERROR_MORE_DATA: the data did not fit */
    kPlatformRegSz = 1        /* REG_SZ */
};

/*
** Open `subKey` under HKEY_LOCAL_MACHINE with options 0 and KEY_READ, in
** the registry view of the running process.  On success stores the handle
** in *key; on failure leaves *key alone.
*/
int32_t PlatformOpenKey(const char* subKey, PlatformKey* key);

/*
** Read value `name` of `key` into data[0 .. *size).  *type and *size are
** in/out as for RegQueryValueExA: on success *size is the number of bytes
** stored, which need not end in a NUL.  Data larger than *size fails with
** kPlatformMoreData.
*/
int32_t PlatformReadValue(PlatformKey key, const char* name, uint32_t* type,
                          uint8_t* data, uint32_t* size);

void PlatformCloseKey(PlatformKey key);

#endif
