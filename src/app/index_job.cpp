#include "index_job.h"

#include <string.h>

#include "../collation/compare_headwords.h"
#include "../platform/platform.h"

enum { kPathSize = 260 }; /* MAX_PATH, terminator included */

static const char kInstallKey[] = "SOFTWARE\\Quorvane\\Orlix\\System\\InstallInfo";
static const char kVersionValue[] = "CurrentVersion";
static const char kDictKey[] = "SOFTWARE\\Quorvane\\Orlix\\Tessary\\Dict";
static const char kDirValue[] = "00010301Path";
static const char kIndexName00[] = "00010301.idx";
static const char kIndexName01[] = "01010301.idx";
static const char kIndexName7F[] = "7F010301.idx";

/*
** Read one string value of `subKey` into buf[kPathSize], the key open only
** for the read.  The registry does not promise a terminator: the string
** ends at the first NUL within the data, or right after the data when
** there is room.  Data filling the whole buffer without a NUL is no usable
** string and fails like a missing value.  Returns true on success.
*/
static bool ReadStringValue(const char* subKey, const char* name, char* buf)
{
    PlatformKey openKey;
    if (PlatformOpenKey(subKey, &openKey) != kPlatformSuccess) return false;

    uint32_t valueType = kPlatformRegSz;
    uint32_t size = kPathSize;
    int32_t status = PlatformReadValue(openKey, name, &valueType, (uint8_t*)buf, &size);
    PlatformCloseKey(openKey);

    if (status != kPlatformSuccess || size > kPathSize) return false;
    if (memchr(buf, 0, size) != nullptr) return true;
    if (size == kPathSize) return false;
    buf[size] = 0;
    return true;
}

/* Only these installations are known to keep their indexes this way. */
static bool IsSupportedVersion(const char* version)
{
    return strcmp(version, "6.0") == 0 || strcmp(version, "6.0001") == 0 ||
           strcmp(version, "6.0002") == 0;
}

/*
** Append a backslash unless the last byte already is one.  The test is on
** the byte, so under a double-byte code page a trailing character whose
** second byte is 0x5C counts as a separator, as the product's own paths do.
** Fails for an empty directory, which names no place, and when the buffer
** has no room for the separator, a file name and the terminator.
*/
static bool EndWithSeparator(char* dictDir)
{
    size_t len = strlen(dictDir);
    if (len == 0) return false;
    size_t separator = dictDir[len - 1] != '\\' ? 1 : 0;
    if (len + separator + sizeof kIndexName00 > kPathSize) return false;
    if (separator) {
        dictDir[len] = '\\';
        dictDir[len + 1] = 0;
    }
    return true;
}

static void FormPath(char* path, const char* dictDir, const char* name)
{
    size_t len = strlen(dictDir);
    memcpy(path, dictDir, len);
    memcpy(path + len, name, strlen(name) + 1);
}

int RunIndexJob(void)
{
    char dictDir[kPathSize];
    if (!ReadStringValue(kInstallKey, kVersionValue, dictDir)) return 0;
    if (!IsSupportedVersion(dictDir)) return 0;

    if (!ReadStringValue(kDictKey, kDirValue, dictDir)) return 0;
    if (!EndWithSeparator(dictDir)) return 0;

    char indexPath00[kPathSize];
    char indexPath01[kPathSize];
    char indexPath7F[kPathSize];
    FormPath(indexPath00, dictDir, kIndexName00);
    FormPath(indexPath01, dictDir, kIndexName01);
    FormPath(indexPath7F, dictDir, kIndexName7F);

    const char* sourceIndexList[2] = {indexPath01, indexPath7F};
    DbOrdinal12(indexPath00, 2, sourceIndexList, CompareHeadwords);
    return 1;
}
