#include "platform.h"

#include <windows.h>

static_assert(kPlatformMoreData == ERROR_MORE_DATA, "status codes are Win32's");
static_assert(kPlatformRegSz == REG_SZ, "value types are Win32's");

/*
** No KEY_WOW64_* flag: a 32-bit build reads the 32-bit view, where the
** product's 32-bit installer wrote its values.
*/
int32_t PlatformOpenKey(const char* subKey, PlatformKey* key)
{
    HKEY handle = NULL;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ, &handle);
    if (status == ERROR_SUCCESS) *key = (PlatformKey)handle;
    return (int32_t)status;
}

int32_t PlatformReadValue(PlatformKey key, const char* name, uint32_t* type,
                          uint8_t* data, uint32_t* size)
{
    DWORD t = *type;
    DWORD n = *size;
    LONG status = RegQueryValueExA((HKEY)key, name, NULL, &t, data, &n);
    *type = t;
    *size = n;
    return (int32_t)status;
}

void PlatformCloseKey(PlatformKey key)
{
    RegCloseKey((HKEY)key);
}
