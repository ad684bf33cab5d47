/*
** A key file of the benchmarks, read whole: one key a line, each line end
** (LF or CR) made the key's terminator, empty lines dropped.  The keys
** point into *bytes, in file order.
*/
#ifndef BENCH_KEY_LINES_H
#define BENCH_KEY_LINES_H

#include <stdio.h>

#include <string>
#include <vector>

static bool ReadKeyLines(const std::string& path, std::vector<char>* bytes,
                         std::vector<const char*>* keys)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        perror(path.c_str());
        return false;
    }
    char chunk[1 << 16];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes->insert(bytes->end(), chunk, chunk + n);
    bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) {
        perror(path.c_str());
        return false;
    }
    bytes->push_back('\n');
    size_t start = 0;
    for (size_t i = 0; i < bytes->size(); i++) {
        if ((*bytes)[i] != '\n' && (*bytes)[i] != '\r') continue;
        (*bytes)[i] = 0;
        if (i > start) keys->push_back(bytes->data() + start);
        start = i + 1;
    }
    return !keys->empty();
}

#endif
