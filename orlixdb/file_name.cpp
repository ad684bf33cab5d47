#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "file_name.h"
#include "fnv1a.h"

const char kFileTempMarker[] = ".orlixdb-tmp.";
const char kFileLockSuffix[] = ".orlixdb-lock";

/*
** File systems take names of up to 255 bytes.  The longest suffix is the
** temporary's: the marker and a 64-bit process id in decimal.  A longer
** base name keeps its first bytes, then '~' and 16 hex digits of a hash
** of the whole name, so that distinct long names keep distinct files.
*/
enum {
    kNameMax = 255,
    kStemMax = kNameMax - (sizeof kFileTempMarker - 1) - 20,
    kStemHashDigits = 16,
    kStemKept = kStemMax - 1 - kStemHashDigits
};

/* The stem of base name `base` in stem[kStemMax + 1]: the name, or its shortened form. */
static size_t NameStem(const char* base, size_t length, char* stem)
{
    if (length <= kStemMax) {
        memcpy(stem, base, length);
        stem[length] = 0;
        return length;
    }
    memcpy(stem, base, kStemKept);
    snprintf(stem + kStemKept, kStemMax + 1 - kStemKept, "~%016llx",
             (unsigned long long)Fnv1a(kFnv1aStart, base, length));
    return kStemMax;
}

/* `path` with its base name's stem, then `suffix`; free() it. */
static char* StemPath(const char* path, const char* suffix)
{
    const char* base = FileBaseName(path);
    size_t dir = (size_t)(base - path), extra = strlen(suffix);
    char stem[kStemMax + 1];
    size_t length = NameStem(base, strlen(base), stem);
    char* result = (char*)malloc(dir + length + extra + 1);
    if (result == nullptr) return nullptr;
    memcpy(result, path, dir);
    memcpy(result + dir, stem, length);
    memcpy(result + dir + length, suffix, extra + 1);
    return result;
}

char* FileTempPath(const char* path, unsigned long id)
{
    char suffix[sizeof kFileTempMarker + 20];
    snprintf(suffix, sizeof suffix, "%s%lu", kFileTempMarker, id);
    return StemPath(path, suffix);
}

char* FileLockPath(const char* path) { return StemPath(path, kFileLockSuffix); }

bool FileIsTempOf(const char* name, const char* base)
{
    char stem[kStemMax + 1];
    size_t length = NameStem(base, strlen(base), stem), marker = sizeof kFileTempMarker - 1;
    if (strncmp(name, stem, length) != 0) return false;
    if (strncmp(name + length, kFileTempMarker, marker) != 0) return false;
    const char* id = name + length + marker;
    if (*id == 0) return false;
    for (; *id != 0; id++)
        if (*id < '0' || *id > '9') return false;
    return true;
}

const char* FileBaseName(const char* path)
{
    const char* base = path;
    for (const char* p = path; *p != 0; p++) {
#if defined(_WIN32)
        if (*p == '\\') base = p + 1;
#endif
        if (*p == '/') base = p + 1;
    }
    return base;
}

char* FileDirectoryOf(const char* path)
{
    size_t length = (size_t)(FileBaseName(path) - path);
    char* dir = (char*)malloc(length + 2);
    if (dir == nullptr) return nullptr;
    memcpy(dir, path, length);
    memcpy(dir + length, ".", 2);
    return dir;
}
