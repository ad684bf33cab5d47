#include "record_text.h"

#include <string.h>

#include "orlixdb/index_format.h"

static const char kHex[] = "0123456789ABCDEF";

/*
** The length of the character at p[0 .. length) when it is text in UTF-8:
** a well-formed sequence (shortest form, no surrogate, at most U+10FFFF)
** of a character that is not a C1 control.  0 for anything else, and for
** ASCII, which the caller handles byte by byte.
*/
static size_t TextCharLength(const unsigned char* p, size_t length, uint32_t* code)
{
    size_t n;
    uint32_t c, least;
    if (p[0] >= 0xC2 && p[0] <= 0xDF)
        n = 2, c = p[0] & 0x1Fu, least = 0xA0; /* below U+00A0: C1 controls */
    else if (p[0] >= 0xE0 && p[0] <= 0xEF)
        n = 3, c = p[0] & 0x0Fu, least = 0x800;
    else if (p[0] >= 0xF0 && p[0] <= 0xF4)
        n = 4, c = p[0] & 0x07u, least = 0x10000;
    else
        return 0;
    if (length < n) return 0;
    for (size_t i = 1; i < n; i++) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        c = c << 6 | (p[i] & 0x3Fu);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *code = c;
    return n;
}

/*
** Characters a terminal shows as nothing, as a space, or by reordering
** the text around them: no-break and soft hyphen, the zero-width and
** direction marks, the embeddings and overrides, the invisible operators,
** the isolates, the byte-order mark and the line and paragraph separators.
** Written as their bytes, a line looks like what it holds.
*/
static bool IsInvisible(uint32_t c)
{
    return c == 0xA0 || c == 0xAD || (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
           (c >= 0x2060 && c <= 0x2064) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

static void AppendHexEscape(unsigned char c, std::string* out)
{
    char escape[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
    out->append(escape, sizeof escape);
}

/*
** Text stays as it is, so a French or German list reads in a terminal.
** Escaped is all that is not text or would not be seen: bytes that are no
** valid UTF-8, control characters (C0, DEL, C1), invisible and
** direction-changing characters, the backslash itself, and spaces at either
** edge, which the collation ignores and an eye misses.
*/
void FormatKeyText(const char* key, size_t length, std::string* out)
{
    const unsigned char* p = (const unsigned char*)key;
    size_t first = 0, end = length; /* the key between its edge spaces */
    while (first < length && p[first] == ' ') first++;
    while (end > first && p[end - 1] == ' ') end--;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = p[i];
        uint32_t code = 0;
        size_t text = c >= 0x80 ? TextCharLength(p + i, length - i, &code) : 0;
        if (text > 0 && IsInvisible(code)) {
            for (size_t k = 0; k < text; k++) AppendHexEscape(p[i + k], out);
            i += text - 1;
        } else if (text > 0) {
            out->append(key + i, text);
            i += text - 1;
        } else if (c == '\\') {
            out->append("\\\\");
        } else if (c == '\t') {
            out->append("\\t");
        } else if (c == '\n') {
            out->append("\\n");
        } else if (c < 0x20 || c >= 0x7F || (c == ' ' && (i < first || i >= end))) {
            AppendHexEscape(c, out);
        } else {
            out->push_back((char)c);
        }
    }
}

void FormatRecordLine(const char* key, size_t length, uint32_t reference, std::string* out)
{
    FormatKeyText(key, length, out);
    out->push_back('\t');
    out->append(std::to_string(reference));
    out->push_back('\n');
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* The escape at text[0 .. length), text[0] being the backslash; sets *used. */
static const char* ParseEscape(const char* text, size_t length, char* byte, size_t* used)
{
    if (length < 2) return "backslash at the end of the key";
    *used = 2;
    switch (text[1]) {
    case '\\': *byte = '\\'; return nullptr;
    case 't': *byte = '\t'; return nullptr;
    case 'n': *byte = '\n'; return nullptr;
    case 'x': break;
    default: return "unknown escape (use \\\\, \\t, \\n or \\xHH)";
    }
    int high = length >= 4 ? HexValue(text[2]) : -1;
    int low = length >= 4 ? HexValue(text[3]) : -1;
    if (high < 0 || low < 0) return "\\x needs two hex digits";
    if (high == 0 && low == 0) return "a key cannot hold a NUL byte";
    *byte = (char)(high * 16 + low);
    *used = 4;
    return nullptr;
}

static const char* ParseReference(const char* text, size_t length, uint32_t* reference)
{
    if (length == 0) return "missing reference after the TAB";
    uint64_t value = 0;
    for (size_t i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9') return "reference is not a decimal number";
        value = value * 10 + (uint64_t)(text[i] - '0');
        if (value > 0xFFFFFFFFu) return "reference larger than 4294967295";
    }
    *reference = (uint32_t)value;
    return nullptr;
}

/* The key at the start of text[0 .. length), up to a TAB or the end; sets *used. */
static const char* ParseKey(const char* text, size_t length, std::string* key, size_t* used)
{
    key->clear();
    size_t i = 0;
    while (i < length && text[i] != '\t') {
        if (text[i] == '\\') {
            char byte = 0;
            size_t escape = 0;
            const char* problem = ParseEscape(text + i, length - i, &byte, &escape);
            if (problem != nullptr) return problem;
            key->push_back(byte);
            i += escape;
        } else {
            if (text[i] == 0) return "a key cannot hold a NUL byte";
            key->push_back(text[i++]);
        }
    }
    *used = i;
    return nullptr;
}

const char* ParseKeyText(const char* text, size_t length, std::string* key)
{
    size_t used = 0;
    const char* problem = ParseKey(text, length, key, &used);
    if (problem != nullptr) return problem;
    return used < length ? "a TAB in a key must be written \\t" : nullptr;
}

const char* ParseRecordLine(const char* line, size_t length, std::string* key,
                            uint32_t* reference)
{
    if (length > 0 && line[length - 1] == '\r') length--;
    if (length >= 3 && memcmp(line, "\xEF\xBB\xBF", 3) == 0)
        return "key starts with a byte-order mark (U+FEFF); write \\xEF\\xBB\\xBF if it is meant";
    size_t i = 0;
    const char* problem = ParseKey(line, length, key, &i);
    if (problem != nullptr) return problem;
    if (i == length) return "no TAB between key and reference";
    if (key->empty()) return "empty key";
    if (key->size() > kIndexMaxKey) return "key longer than 1024 bytes";
    return ParseReference(line + i + 1, length - i - 1, reference);
}
