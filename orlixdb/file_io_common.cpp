#include "file_io.h"

#include <stdlib.h>
#include <string.h>

const char kFileTempSuffix[] = ".orlixdb-tmp";

char* FileTempPath(const char* path)
{
    size_t length = strlen(path);
    char* temp = (char*)malloc(length + sizeof kFileTempSuffix);
    if (temp == nullptr) return nullptr;
    memcpy(temp, path, length);
    memcpy(temp + length, kFileTempSuffix, sizeof kFileTempSuffix);
    return temp;
}
