/*
** The input of the collation fuzzers: split at NUL bytes into at most
** kMax keys, each copied into a heap block of exactly its size, so that a
** read past a terminator is an AddressSanitizer report.  Every ordered
** pair, a key with itself and each key against a null key, is handed to
** check.
*/
#ifndef FUZZ_KEY_PAIRS_H
#define FUZZ_KEY_PAIRS_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

template <size_t kMax, class Check>
static void ForEachKeyPair(const uint8_t* data, size_t size, Check check)
{
    char* keys[kMax + 1];
    size_t count = 0;
    size_t start = 0;
    while (start <= size && count < kMax) {
        const uint8_t* nul = (const uint8_t*)memchr(data + start, 0, size - start);
        size_t length = nul != nullptr ? (size_t)(nul - data) - start : size - start;
        char* key = (char*)malloc(length + 1);
        if (key == nullptr) break;
        memcpy(key, data + start, length);
        key[length] = 0;
        keys[count++] = key;
        start += length + 1;
    }
    keys[count] = nullptr;

    for (size_t i = 0; i <= count; i++)
        for (size_t j = 0; j <= count; j++) check(keys[i], keys[j]);

    for (size_t i = 0; i < count; i++) free(keys[i]);
}

#endif
