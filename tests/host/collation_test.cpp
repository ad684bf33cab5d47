#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "collation/compare_headwords.h"

namespace {

struct Case {
    const char* first;
    const char* second;
    int32_t expected;
};

void ExpectTable(const std::vector<Case>& table)
{
    for (const Case& c : table) {
        EXPECT_EQ(CompareHeadwords(c.first, c.second), c.expected)
            << "'" << (c.first ? c.first : "(null)") << "' vs '"
            << (c.second ? c.second : "(null)") << "'";
    }
}

TEST(Collation, FoldingAndWhitespace)
{
    ExpectTable({
        {"abc", "abd", -1},
        {"abc", "ABC", 32},
        {"ABC", "abc", -32},
        {"  abc", "abc ", 0},
        {"", "", 0},
        {"abc ", "abc", 0},
        {"ab ", "abc", -67},
        {"a b", "ab", -66},
        {"a\tb", "a b", -23},
        {"\t\n\v\f\r abc", "abc", 0},
        {"Zebra", "apple", 25},
        {"[", "{", -32},  /* 0x5B and 0x7B are punctuation, never folded */
    });
}

TEST(Collation, Digits)
{
    ExpectTable({
        {"1a", "a1", 1},
        {"a1b", "ab", 1},
        {"ab", "a1b", -1},
        {"a3", "a21", 1},
        {"a9", "A1", 8},
        {"9", "1", 8},
        {"ab", "ab1", -1},
        {"a1", "a1x", -1},
        {"a1", "a2x", -1},
        {"a 1", "a1", -1},
        {"a", "1", 1},
        {"1", "a", -1},
        {"1", "-", 1},
        {"-", "1", -1},
        {"a1", "a-1", -1},
        {"a-1", "a1", 1},
    });
}

TEST(Collation, PunctuationAgainstCase)
{
    ExpectTable({
        {"a-b", "ab", 1},
        {"-ab", "ab", 1},
        {"-Ab", "ab", -32},
        {"a-B", "ab", 1},
        {"- -A", "- +a", 2},
        {"-A", "+a", -32},
        {"+ ", "- -", -1},
        {"a.b", "a,b", 2},
        {"-a", "+a", 2},
        {"a-", "a+", 2},
        {"-", "+", 2},
    });
}

TEST(Collation, EndOfHeadword)
{
    ExpectTable({
        {"ab", "ab-", -1},
        {"ab-", "ab", 1},
        {"a.", "a", 1},
        {".a", "a", 1},
        {"-", "", 1},
        {"", "-", -1},
        {"abc@", "abc", 0},
        {"a", "b@1", -1},
    });
}

TEST(Collation, NullKeys)
{
    ExpectTable({
        {nullptr, nullptr, 0},
        {nullptr, "  ", 0},
        {nullptr, "@", -1},
        {"x", nullptr, 1},
        {"\t", nullptr, 0},
        {" @", nullptr, 1},
        {nullptr, "", 0},
    });
}

TEST(Collation, BytesFrom0x80AreSignedPunctuation)
{
    ExpectTable({
        {"\xE9", "e", -1},
        {"caf\xE9", "cafe", -1},
        {"\xE9", "\xE8", 1},
        {"\x80", "\x7F", -255},  /* -128 - 127 */
        {"a\xFF", "a!", -34},     /* -1 - 33, after a matched pair */
    });
}

TEST(Collation, Suffix)
{
    ExpectTable({
        {"a@1", "a@2", -1},
        {"a@10", "a@9", 1},
        {"a", "a@5", -5},
        {"@7", "@3", 4},
        {"ab @2", "ab", 2},
        {"ab  @3", "ab", 3},
        {"x@1@2", "x", 262},
        {"ab", "ab@x", -72},
        {"abc@ 12", "abc@12", -1600},
        {"ab@\xE9", "ab", -71},
        {"a@4294967295", "a", -1},  /* the value wraps modulo 2^32 */
        {"a@4294967296", "a", 0},
    });
}

/*
** A suffix difference beyond int32 saturates instead of wrapping, so that
** swapping the keys always flips the sign.
*/
TEST(Collation, SuffixDifferenceSaturates)
{
    ExpectTable({
        {"a@2147483648", "a", -INT32_MAX},  /* value -2^31 */
        {"a", "a@2147483648", INT32_MAX},
        {"a@2147483647", "a@2147483648", INT32_MAX},
        {"a@2147483648", "a@2147483647", -INT32_MAX},
        {"a@2147483647", "a@1", 2147483646},
        {"a@-1", "a@2147483647", -INT32_MAX},
    });
}

TEST(Collation, SuffixOrderIsTransitive)
{
    const char* low = "a@2794967296"; /* -1500000000 after the wrap */
    const char* mid = "a";
    const char* high = "a@1500000000";
    EXPECT_LT(CompareHeadwords(low, mid), 0);
    EXPECT_LT(CompareHeadwords(mid, high), 0);
    EXPECT_LT(CompareHeadwords(low, high), 0);
    EXPECT_GT(CompareHeadwords(high, low), 0);
}

int Sign(int32_t v) { return (v > 0) - (v < 0); }

std::string RandomKey(std::mt19937& rng)
{
    static const char kBytes[] = "aAbBzZ \t09-+.,\xE9\x80\xFF@@";
    std::uniform_int_distribution<size_t> len(0, 12);
    std::uniform_int_distribution<size_t> pick(0, sizeof kBytes - 2);
    std::string key;
    for (size_t n = len(rng); n > 0; n--) key += kBytes[pick(rng)];
    if (rng() % 3 == 0) key += "@" + std::to_string(rng()) + std::to_string(rng() % 100);
    return key;
}

TEST(Collation, SwappingKeysFlipsTheSign)
{
    std::mt19937 rng(12345);
    for (int n = 0; n < 200000; n++) {
        std::string a = RandomKey(rng);
        std::string b = RandomKey(rng);
        ASSERT_EQ(Sign(CompareHeadwords(a.c_str(), b.c_str())),
                  -Sign(CompareHeadwords(b.c_str(), a.c_str())))
            << "'" << a << "' vs '" << b << "'";
        ASSERT_EQ(CompareHeadwords(a.c_str(), a.c_str()), 0) << a;
    }
}

/*
** Each key is copied so that its terminator is the last readable byte
** before an inaccessible page: a read past either terminator faults.
*/
class GuardedKey {
public:
    GuardedKey()
    {
        page_ = (size_t)sysconf(_SC_PAGESIZE);
        base_ = (char*)mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        EXPECT_NE(base_, MAP_FAILED);
        EXPECT_EQ(mprotect(base_ + page_, page_, PROT_NONE), 0);
    }
    ~GuardedKey() { munmap(base_, 2 * page_); }
    const char* Place(const char* key)
    {
        size_t n = strlen(key) + 1;
        char* at = base_ + page_ - n;
        memcpy(at, key, n);
        return at;
    }

private:
    size_t page_;
    char* base_;
};

TEST(Collation, ReadsNoFurtherThanEitherTerminator)
{
    const char* keys[] = {"", " ", "a", "abc", "abc ", "ab@", "a@1@2", "ab-", "-", "1",
                          "a1", "\xE9", "  \t", "x@", "ab  @3", "a-B", "+ ", "- -"};
    GuardedKey ga, gb;
    for (const char* a : keys)
        for (const char* b : keys)
            EXPECT_EQ(CompareHeadwords(ga.Place(a), gb.Place(b)), CompareHeadwords(a, b))
                << "'" << a << "' vs '" << b << "'";
}

/*
** Keys of every length from 0 to 40, cut from patterns that take the scan
** up to the terminator in each of its ways: a run of identical bytes, case
** differences, digits and punctuation stepped over, whitespace, bytes from
** 0x80, a suffix.  Cut at every length, each pattern also ends in the
** middle of each of these.
*/
std::vector<std::string> KeysOfEveryLength()
{
    static const char* const kPatterns[] = {
        "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopq",
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopq",
        "aBcDeFgHiJkLmNoPqRsTuVwXyZaBcDeFgHiJkLmNoPq",
        "a-b.c1d2 e\tf+g,h3i4 j-k.l5m6 n\to+p,q7r8 s-",
        "  lead\t ing  words  with   spaces  between ",
        "word@12345678901234567890123456789012345678",
        "12345678901234567890123456789012345678901234",
        "-+.,;:!?-+.,;:!?-+.,;:!?-+.,;:!?-+.,;:!?-+.",
        "caf\xE9 na\xEFve \xC3\xA9t\xC3\xA9 \x80\xFF\x01 caf\xE9 na\xEFve \xE9 \xC3\xA9t\xC3\xA9 ",
    };
    std::vector<std::string> keys;
    for (const char* pattern : kPatterns)
        for (size_t length = 0; length <= 40 && length <= strlen(pattern); length++)
            keys.push_back(std::string(pattern, length));
    return keys;
}

/*
** Both keys flush against a guard page, for every pair of keys of every
** length: the scan meets each terminator in every state it can be in, and
** the keys start at every alignment.  A read past either terminator, of a
** byte or of a word, aligned or not, that reaches the next page faults.
*/
TEST(Collation, ReadsNoFurtherThanEitherTerminatorAtAnyLength)
{
    std::vector<std::string> keys = KeysOfEveryLength();
    GuardedKey ga, gb;
    for (const std::string& a : keys)
        for (const std::string& b : keys)
            ASSERT_EQ(CompareHeadwords(ga.Place(a.c_str()), gb.Place(b.c_str())),
                      CompareHeadwords(a.c_str(), b.c_str()))
                << "'" << a << "' vs '" << b << "'";
}

/*
** Each key copied to a heap block that ends at its terminator, the
** terminator at every offset from 0 to 15 in its aligned 16 bytes; under
** AddressSanitizer (the host tests' build) a load that reaches past the
** block is reported even where it stays within the page, as an aligned
** word load does.  Compared with its neighbours in length and with the
** other patterns' key of the same length.
*/
TEST(Collation, ReadsNoFurtherThanEitherTerminatorAtAnyAlignment)
{
    std::vector<std::string> keys = KeysOfEveryLength();
    for (const std::string& a : keys) {
        for (size_t shift = 0; shift < 16; shift++) {
            /* Over the 16 shifts the terminator takes every address modulo 16. */
            std::vector<char> block(shift + a.size() + 1);
            char* placed = block.data() + shift;
            memcpy(placed, a.c_str(), a.size() + 1);
            for (const std::string& b : keys) {
                size_t d = b.size() > a.size() ? b.size() - a.size() : a.size() - b.size();
                if (d > 1) continue;
                int32_t expected = CompareHeadwords(a.c_str(), b.c_str());
                ASSERT_EQ(CompareHeadwords(placed, b.c_str()), expected) << "'" << a << "' vs '" << b << "'";
                ASSERT_EQ(CompareHeadwords(b.c_str(), placed), CompareHeadwords(b.c_str(), a.c_str()))
                    << "'" << b << "' vs '" << a << "'";
            }
        }
    }
}

}  // namespace
