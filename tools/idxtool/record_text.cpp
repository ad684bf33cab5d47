#include "record_text.h"

#include "orlixdb/index_format.h"

static const char kHex[] = "0123456789ABCDEF";

void FormatKeyText(const char* key, size_t length, std::string* out)
{
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)key[i];
        if (c == '\\') {
            out->append("\\\\");
        } else if (c == '\t') {
            out->append("\\t");
        } else if (c == '\n') {
            out->append("\\n");
        } else if (c < 0x20 || c >= 0x7F) {
            char escape[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
            out->append(escape, sizeof escape);
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
    size_t i = 0;
    const char* problem = ParseKey(line, length, key, &i);
    if (problem != nullptr) return problem;
    if (i == length) return "no TAB between key and reference";
    if (key->empty()) return "empty key";
    if (key->size() > kIndexMaxKey) return "key longer than 1024 bytes";
    return ParseReference(line + i + 1, length - i - 1, reference);
}
