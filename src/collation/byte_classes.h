/*
** Byte classes of the headword collation.
**
** Every byte is taken as a signed 8-bit value, and every class is a fixed
** range of ASCII codes: no locale, no table, so the order of an index never
** depends on the machine that wrote it.  Bytes 0x80 to 0xFF are negative and
** fall into no range but "other".  The classes do not overlap.
*/
#ifndef ORLIX_COLLATION_BYTE_CLASSES_H
#define ORLIX_COLLATION_BYTE_CLASSES_H

#include <stdint.h>

/* The terminator or "@": both close the headword part of a key. */
static inline bool IsEndByte(int32_t c) { return c == 0x00 || c == 0x40; }

static inline bool IsWhitespace(int32_t c)
{
    return c == 0x20 || (c >= 0x09 && c <= 0x0D);
}

static inline bool IsUpper(int32_t c) { return c >= 0x41 && c <= 0x5A; }

/* A-Z and a-z: with the lower-case bit set, both ranges are a-z. */
static inline bool IsLetter(int32_t c) { return (uint32_t)((c | 0x20) - 0x61) < 26; }

static inline bool IsDigit(int32_t c) { return c >= 0x30 && c <= 0x39; }

/* Letters and whitespace are the bytes the scan matches pair by pair. */
static inline bool IsWordByte(int32_t c) { return IsLetter(c) || IsWhitespace(c); }

/* Punctuation: every byte that is no end byte, word byte or digit. */
static inline bool IsOther(int32_t c)
{
    return !IsEndByte(c) && !IsWordByte(c) && !IsDigit(c);
}

/* Case folding maps A-Z onto a-z and leaves every other byte alone. */
static inline int32_t Fold(int32_t c) { return IsUpper(c) ? c + 32 : c; }

/* Fold of a byte known to be a letter: the lower-case bit set. */
static inline int32_t FoldLetter(int32_t c) { return c | 0x20; }

/* The signed value of the byte at p. */
static inline int32_t ByteAt(const char* p) { return (int32_t)(signed char)*p; }

#endif
