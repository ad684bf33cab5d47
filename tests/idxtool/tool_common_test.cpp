#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include "common/arguments.h"
#include "common/tool_common.h"

namespace {

struct OrderCase {
    std::vector<const char*> keys;
    bool strict;
    size_t first; /* FirstOutOfOrder's answer */
};

TEST(ToolCommon, FirstOutOfOrder)
{
    const std::vector<OrderCase> table = {
        {{}, false, 0},
        {{"apple"}, true, 1},
        {{"apple", "banana", "cherry"}, false, 3},
        {{"banana", "apple"}, false, 1},
        {{"apple", "cherry", "banana"}, false, 2},
        {{"apple", "apple"}, false, 2},
        {{"apple", "apple"}, true, 1},
        {{"Apple", "apple"}, true, 2},
    };
    for (const OrderCase& c : table)
        EXPECT_EQ(FirstOutOfOrder(c.keys.data(), c.keys.size(), c.strict), c.first)
            << c.keys.size() << " keys, strict " << c.strict;
}

TEST(ToolCommon, SameFileByIdentity)
{
    char dir[] = "/tmp/tool_common_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string a = std::string(dir) + "/a", b = std::string(dir) + "/b";
    std::string hard = std::string(dir) + "/hard", soft = std::string(dir) + "/soft";
    FILE* f = fopen(a.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    f = fopen(b.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    ASSERT_EQ(link(a.c_str(), hard.c_str()), 0);
    ASSERT_EQ(symlink(a.c_str(), soft.c_str()), 0);
    std::string dotted = std::string(dir) + "/./a", missing = std::string(dir) + "/none";
    struct { const std::string* out; const std::string* in; bool same; } table[] = {
        {&a, &a, true},      {&dotted, &a, true}, {&hard, &a, true}, {&soft, &a, true},
        {&a, &b, false},     {&missing, &a, false}, {&a, &missing, false},
    };
    for (const auto& c : table)
        EXPECT_EQ(ToolSameFile(c.out->c_str(), c.in->c_str()), c.same) << *c.out << " " << *c.in;
    for (const std::string* p : {&soft, &hard, &b, &a}) unlink(p->c_str());
    rmdir(dir);
}

} // namespace

namespace {

struct Seen {
    bool quiet, force;
    const char* output;
};

bool TakeOutput(void* o, const char* typed, const char* value, std::string* problem)
{
    return ToolTakeOnce(&((Seen*)o)->output, typed, value, problem);
}

const ToolOption kOptions[] = {
    {'q', "quiet", kToolNoValue, ToolSetFlag<Seen, &Seen::quiet>, "q"},
    {'o', "output", kToolValue, TakeOutput, "o"},
    {0, "force", kToolNoValue, ToolSetFlag<Seen, &Seen::force>, "f"},
    {0, nullptr, kToolNoValue, nullptr, nullptr},
};
const ToolCommand kCommand = {"cmd", "A B", 1, 2, false, kOptions, ""};

struct ParseCase {
    std::vector<const char*> argv;
    std::string result; /* operands and options seen, or the problem */
};

/* "operands|quiet|output=...|force" or "help", for the table. */
std::string Said(const ToolArguments& args, const Seen& seen)
{
    std::string text;
    for (const char* op : args.operands) text += std::string(op) + " ";
    if (seen.output != nullptr) text += std::string("|output=") + seen.output;
    return args.help ? "help" : text + (seen.quiet ? "|quiet" : "") + (seen.force ? "|force" : "");
}

TEST(ToolCommon, ParsesTheCommandLine)
{
    const std::vector<ParseCase> table = {
        {{"a"}, "a "},
        {{"a", "-q", "b"}, "a b |quiet"},
        {{"-qoFILE", "a"}, "a |output=FILE|quiet"},
        {{"-qo", "FILE", "a"}, "a |output=FILE|quiet"},
        {{"--output=x", "a"}, "a |output=x"},
        {{"--output", "--force", "a"}, "a |output=--force"},
        {{"a", "--", "--help"}, "a --help "},
        {{"-", "b"}, "- b "},
        {{"a", "b", "--help"}, "help"},
        {{"a", "-h"}, "help"},
        {{"a", "b", "c", "--help"}, "help"},
        {{"-x", "a"}, "unknown option '-x'"},
        {{"--forced", "a"}, "unknown option '--forced'"},
        {{"--force=yes", "a"}, "option '--force' takes no value"},
        {{"a", "-o"}, "option '-o' needs a value"},
        {{"a", "--output"}, "option '--output' needs a value"},
        {{"-o", "x", "-o", "y", "a"}, "option '-o' given twice"},
        {{"-o", "x", "--output=y", "a"}, "option '--output' given twice"},
        {{"--force", "--output", "a", "-qq", "b"}, "b |output=a|quiet|force"},
        {{}, "expects A B, not 0 operands"},
        {{"a", "b", "c"}, "expects A B (at most 2 operands), not 3 operands"},
        {{"--", "-x"}, "-x "},
    };
    for (const ParseCase& c : table) {
        ToolArguments args;
        Seen seen = {false, false, nullptr};
        std::string problem;
        std::vector<char*> argv;
        for (const char* a : c.argv) argv.push_back(const_cast<char*>(a));
        bool ok = ToolParse(&kCommand, (int)argv.size(), argv.data(), &seen, &args, &problem);
        EXPECT_EQ(ok ? Said(args, seen) : problem, c.result) << c.argv.size() << " arguments";
    }
}

} // namespace
