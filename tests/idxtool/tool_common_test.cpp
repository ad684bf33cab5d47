#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

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
