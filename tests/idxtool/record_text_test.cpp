#include <gtest/gtest.h>

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
        {"  lead", 3, "  lead\t3\n"},
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
