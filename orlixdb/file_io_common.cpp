#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "file_io.h"

const char kFileTempMarker[] = ".orlixdb-tmp.";

char* FileTempPath(const char* path, unsigned long id)
{
    size_t length = strlen(path);
    size_t room = length + sizeof kFileTempMarker + 20;
    char* temp = (char*)malloc(room);
    if (temp == nullptr) return nullptr;
    snprintf(temp, room, "%s%s%lu", path, kFileTempMarker, id);
    return temp;
}

bool FileIsTempOf(const char* name, const char* base)
{
    size_t length = strlen(base), marker = sizeof kFileTempMarker - 1;
    if (strncmp(name, base, length) != 0) return false;
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
