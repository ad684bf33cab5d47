#include <gtest/gtest.h>
#include <stdio.h>

#include <random>

#include "idxtool/record_text.h"

namespace {

struct TextCase {
    std::string key;
    uint32_t reference;
    std::string line;
};

TEST(RecordText, FormatsAndParsesBack)
{
    const std::vector<TextCase> table = {
        {"apple", 1, "apple\t1\n"},
        {"a b", 0, "a b\t0\n"},
        {"tab\there", 7, "tab\\there\t7\n"},
        {"new\nline", 8, "new\\nline\t8\n"},
        {"back\\slash", 9, "back\\\\slash\t9\n"},
        {"\xE9t\xE9", 10, "\\xE9t\\xE9\t10\n"},
        {"\x01\x1F\x7F", 11, "\\x01\\x1F\\x7F\t11\n"},
        {"word@12", 4294967295u, "word@12\t4294967295\n"},
        {"  lead", 3, "\\x20\\x20lead\t3\n"},
        {"trail ", 3, "trail\\x20\t3\n"},
        {" ", 3, "\\x20\t3\n"},
        {"\r", 3, "\\x0D\t3\n"},
        /* Text in UTF-8 stays as it is: é, ß, €, U+FFFD, U+10000, U+10FFFF. */
        {"caf\xC3\xA9 Stra\xC3\x9F" "e", 1, "caf\xC3\xA9 Stra\xC3\x9F" "e\t1\n"},
        {"\xE2\x82\xAC\xEF\xBF\xBD\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", 1,
         "\xE2\x82\xAC\xEF\xBF\xBD\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\t1\n"},
        /* What shows as nothing or turns the line around is written as its
           bytes: NBSP, soft hyphen, U+200B..U+200F, U+2028..U+202E,
           U+2060..U+2064, U+2066..U+2069, the byte-order mark; their
           neighbours U+009F (C1), U+00A1, U+200A, U+202F, U+2065, U+206A stay. */
        {"a\xC2\xA0" "b\xC2\xAD", 1, "a\\xC2\\xA0b\\xC2\\xAD\t1\n"},
        {"\xE2\x80\x8B\xE2\x80\x8F\xE2\x80\xA8\xE2\x80\xAE", 1,
         "\\xE2\\x80\\x8B\\xE2\\x80\\x8F\\xE2\\x80\\xA8\\xE2\\x80\\xAE\t1\n"},
        {"\xE2\x81\xA0\xE2\x81\xA4\xE2\x81\xA6\xE2\x81\xA9\xEF\xBB\xBF", 1,
         "\\xE2\\x81\\xA0\\xE2\\x81\\xA4\\xE2\\x81\\xA6\\xE2\\x81\\xA9\\xEF\\xBB\\xBF\t1\n"},
        {"\xC2\xA1\xE2\x80\x8A\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA", 1,
         "\xC2\xA1\xE2\x80\x8A\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\t1\n"},
        /* What is no text is escaped byte by byte: overlongs, a surrogate, past
           U+10FFFF, no lead byte, a sequence cut short, a C1 control. */
        {"\xC0\xAF\xE0\x80\xAF", 2, "\\xC0\\xAF\\xE0\\x80\\xAF\t2\n"},
        {"\xED\xA0\x80\xF4\x90\x80\x80", 2, "\\xED\\xA0\\x80\\xF4\\x90\\x80\\x80\t2\n"},
        {"\xA9\xE2\x82" "a\xC3", 2, "\\xA9\\xE2\\x82" "a\\xC3\t2\n"},
        {"\xC3\xA9\xA9\xC2\x85", 2, "\xC3\xA9\\xA9\\xC2\\x85\t2\n"},
    };
    for (const TextCase& c : table) {
        std::string line;
        FormatRecordLine(c.key.data(), c.key.size(), c.reference, &line);
        EXPECT_EQ(line, c.line);
        std::string key;
        uint32_t reference = 0;
        EXPECT_EQ(ParseRecordLine(line.data(), line.size() - 1, &key, &reference), nullptr);
        EXPECT_EQ(key, c.key);
        EXPECT_EQ(reference, c.reference);
    }
}

TEST(RecordText, AcceptsRawBytesAndLowerHexAndCrLf)
{
    std::string key;
    uint32_t reference = 0;
    EXPECT_EQ(ParseRecordLine("\xE9\\xe9\t5\r", 8, &key, &reference), nullptr);
    EXPECT_EQ(key, "\xE9\xE9");
    EXPECT_EQ(reference, 5u);
}

/* A piece of a generated key: its bytes and what the text form shows of them. */
struct Piece {
    std::string bytes, text;
    bool cut; /* a character cut short: a continuation byte must not follow */
};

static std::string Utf8(uint32_t c)
{
    if (c < 0x800) return {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
    if (c < 0x10000)
        return {char(0xE0 | c >> 12), char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
    return {char(0xF0 | c >> 18), char(0x80 | (c >> 12 & 0x3F)), char(0x80 | (c >> 6 & 0x3F)),
            char(0x80 | (c & 0x3F))};
}

static std::string Hex(const std::string& bytes)
{
    std::string text;
    char escape[5];
    for (char c : bytes)
        snprintf(escape, sizeof escape, "\\x%02X", (unsigned char)c), text += escape;
    return text;
}

static Piece RandomPiece(std::mt19937& rng, bool afterCut)
{
    /* Characters of two, three and four bytes, no surrogate and no C1 control. */
    static const uint32_t kFirst[] = {0xA0, 0x800, 0xE000, 0x10000};
    static const uint32_t kEnd[] = {0x800, 0xD800, 0x10000, 0x110000};
    size_t range = rng() % 4;
    uint32_t character = kFirst[range] + rng() % (kEnd[range] - kFirst[range]);
    char cont = char(0x80 + rng() % 64);
    std::string bad[] = {std::string(1, afterCut ? '\xFF' : cont),   /* no lead byte */
                         {char(0xC0 + rng() % 2), cont},              /* overlong */
                         {'\xE0', char(0x80 + rng() % 32), cont},     /* overlong */
                         {'\xF0', char(0x80 + rng() % 16), cont, cont},
                         {'\xED', char(0xA0 + rng() % 32), cont},     /* a surrogate */
                         {char(0xF4 + rng() % 12), char(0x90 + rng() % 48), cont, cont}};
    char ascii = char(0x21 + rng() % 94), control = char(rng() % 32);
    std::string c1 = Utf8(0x80 + rng() % 32);
    std::string cut = Utf8(character).substr(0, 1 + rng() % (Utf8(character).size() - 1));
    switch (rng() % 8) {
    case 0: return ascii == '\\' ? Piece{"\\", "\\\\", false} : Piece{{ascii}, {ascii}, false};
    case 1: return {" ", " ", false}; /* "\x20" at an edge of the key */
    case 2:
        if (control == 0) control = 0x7F;
        return {{control}, control == '\t' ? "\\t" : control == '\n' ? "\\n" : Hex({control}),
                false};
    case 3:
    case 4: {
        /* Characters that show as nothing or turn the text are shown as their bytes. */
        static const uint32_t kHidden[] = {0xA0, 0xA0, 0xAD, 0xAD, 0x200B, 0x200F, 0x2028, 0x202E,
                                           0x2060, 0x2064, 0x2066, 0x2069, 0xFEFF, 0xFEFF};
        bool hidden = false;
        for (size_t i = 0; i < 14; i += 2) hidden |= character >= kHidden[i] && character <= kHidden[i + 1];
        return {Utf8(character), hidden ? Hex(Utf8(character)) : Utf8(character), false};
    }
    case 5: return {c1, Hex(c1), false};
    case 6: return {cut, Hex(cut), true};
    }
    std::string b = bad[rng() % 6];
    return {b, Hex(b), false};
}

/*
** Keys of random pieces, invalid UTF-8 among them, each shown as the
** pieces say and read back to the same bytes.
*/
TEST(RecordText, GeneratedKeysRoundTrip)
{
    std::mt19937 rng(16);
    for (int n = 0; n < 20000; n++) {
        std::vector<Piece> pieces;
        for (size_t count = 1 + rng() % 10; pieces.size() < count;)
            pieces.push_back(RandomPiece(rng, !pieces.empty() && pieces.back().cut));
        for (size_t i = 0; i < pieces.size() && pieces[i].bytes == " "; i++)
            pieces[i].text = "\\x20";
        for (size_t i = pieces.size(); i-- > 0 && pieces[i].bytes == " ";) pieces[i].text = "\\x20";
        std::string key, want, line, back;
        for (const Piece& p : pieces) key += p.bytes, want += p.text;
        FormatRecordLine(key.data(), key.size(), 7, &line);
        ASSERT_EQ(line, want + "\t7\n") << Hex(key);
        uint32_t reference = 0;
        ASSERT_EQ(ParseRecordLine(line.data(), line.size() - 1, &back, &reference), nullptr);
        ASSERT_EQ(back, key) << Hex(key);
    }
}

struct BadLine {
    std::string line;
    std::string problem;
};

TEST(RecordText, RefusesBadLines)
{
    const std::vector<BadLine> table = {
        {"", "no TAB between key and reference"},
        {"apple", "no TAB between key and reference"},
        {"\t1", "empty key"},
        {"a\t", "missing reference after the TAB"},
        {"a\t-1", "reference is not a decimal number"},
        {"a\t1 ", "reference is not a decimal number"},
        {"a\t4294967296", "reference larger than 4294967295"},
        {"a\\", "backslash at the end of the key"},
        {"a\\q\t1", "unknown escape (use \\\\, \\t, \\n or \\xHH)"},
        {"a\\x4\t1", "\\x needs two hex digits"},
        {"a\\xG0\t1", "\\x needs two hex digits"},
        {"a\\x00\t1", "a key cannot hold a NUL byte"},
        {std::string("a\0b\t1", 5), "a key cannot hold a NUL byte"},
        {std::string(1025, 'k') + "\t1", "key longer than 1024 bytes"},
        {"\xEF\xBB\xBF" "bank\t1", "key starts with a byte-order mark (U+FEFF); write \\xEF\\xBB\\xBF if it is meant"},
    };
    for (const BadLine& c : table) {
        std::string key;
        uint32_t reference = 0;
        const char* problem = ParseRecordLine(c.line.data(), c.line.size(), &key, &reference);
        EXPECT_EQ(problem ? std::string(problem) : "(accepted)", c.problem) << c.line;
    }
    std::string key;
    uint32_t reference = 0;
    std::string longest = std::string(1024, 'k') + "\t1";
    EXPECT_EQ(ParseRecordLine(longest.data(), longest.size(), &key, &reference), nullptr);
}

}  // namespace
