#include <gtest/gtest.h>

#include <string>

#include "app/index_job.h"
#include "collation/compare_headwords.h"
#include "registry_double.h"

namespace {

const std::string kInstall = "SOFTWARE\\Quorvane\\Orlix\\System\\InstallInfo";
const std::string kDict = "SOFTWARE\\Quorvane\\Orlix\\Tessary\\Dict";
const char* const kMissing = nullptr;

const std::string kProbe = "open " + kInstall + "; read CurrentVersion 260 1; close";
const std::string kDictRead = "open " + kDict + "; read 00010301Path 260 1; close";
const std::string kFullRun = kProbe + "; " + kDictRead + "; job";

struct Installation {
    bool installKey;
    const char* version;  /* value bytes as stored, terminator included when wanted */
    size_t versionSize;
    bool dictKey;
    const char* dir;
    size_t dirSize;
};

template <size_t N>
constexpr size_t Bytes(const char (&)[N]) { return N; }

void Install(const Installation& in)
{
    ResetRegistry();
    if (in.installKey) AddKey(kInstall);
    if (in.installKey && in.version) SetValue(kInstall, "CurrentVersion", std::string(in.version, in.versionSize));
    if (in.dictKey) AddKey(kDict);
    if (in.dictKey && in.dir) SetValue(kDict, "00010301Path", std::string(in.dir, in.dirSize));
}

void ExpectKeysBalanced()
{
    EXPECT_EQ(OpenKeys(), 0) << CallLog();
    EXPECT_LE(MostKeysOpenAtOnce(), 1) << CallLog();
    EXPECT_EQ(CallLog().find("unknown handle"), std::string::npos) << CallLog();
}

struct RunCase {
    const char* name;
    Installation in;
    std::string calls;
};

/* Every way the run ends with nothing done: exit 0, keys closed, no job. */
TEST(IndexJob, FailuresReturnZeroAndCloseEveryKey)
{
    const RunCase table[] = {
        {"no installation key", {false, kMissing, 0, true, "C:\\Dict", Bytes("C:\\Dict")},
         "open " + kInstall},
        {"no version value", {true, kMissing, 0, true, "C:\\Dict", Bytes("C:\\Dict")}, kProbe},
        {"version 6.0003", {true, "6.0003", Bytes("6.0003"), true, "C:\\Dict", Bytes("C:\\Dict")}, kProbe},
        {"version 6.00", {true, "6.00", Bytes("6.00"), true, "C:\\Dict", Bytes("C:\\Dict")}, kProbe},
        {"version with a space", {true, "6.0 ", Bytes("6.0 "), true, "C:\\Dict", Bytes("C:\\Dict")}, kProbe},
        {"version 6", {true, "6", Bytes("6"), true, "C:\\Dict", Bytes("C:\\Dict")}, kProbe},
        {"version with a leading v", {true, "v6.0", Bytes("v6.0"), true, "C:\\Dict", Bytes("C:\\Dict")}, kProbe},
        {"empty version", {true, "", 0, true, "C:\\Dict", Bytes("C:\\Dict")}, kProbe},
        {"no dictionary key", {true, "6.0", Bytes("6.0"), false, kMissing, 0}, kProbe + "; open " + kDict},
        {"no directory value", {true, "6.0", Bytes("6.0"), true, kMissing, 0}, kProbe + "; " + kDictRead},
        {"empty directory", {true, "6.0", Bytes("6.0"), true, "", 0}, kProbe + "; " + kDictRead},
        {"empty directory with NUL", {true, "6.0", Bytes("6.0"), true, "", 1}, kProbe + "; " + kDictRead},
    };
    for (const RunCase& c : table) {
        Install(c.in);
        EXPECT_EQ(RunIndexJob(), 0) << c.name;
        EXPECT_EQ(CallLog(), c.calls) << c.name;
        EXPECT_EQ(Job().calls, 0) << c.name;
        ExpectKeysBalanced();
    }
}

struct PathCase {
    const char* name;
    std::string version;
    std::string dir;      /* stored bytes */
    std::string dirUsed;  /* the directory the paths start with */
};

/* Runs that reach the library, and the paths it is handed. */
TEST(IndexJob, AcceptedRunsHandThePathsToTheLibrary)
{
    const std::string d243(243, 'd');
    const PathCase table[] = {
        {"6.0", std::string("6.0", 4), std::string("C:\\Dict", 8), "C:\\Dict\\"},
        {"6.0001", std::string("6.0001", 7), std::string("C:\\Dict", 8), "C:\\Dict\\"},
        {"6.0002", std::string("6.0002", 7), std::string("C:\\Dict", 8), "C:\\Dict\\"},
        {"separator present", std::string("6.0", 4), std::string("C:\\Dict\\", 9), "C:\\Dict\\"},
        {"forward slash", std::string("6.0", 4), std::string("C:\\Dict/", 9), "C:\\Dict/\\"},
        {"version without NUL", "6.0", std::string("C:\\Dict", 8), "C:\\Dict\\"},
        {"directory without NUL", std::string("6.0", 4), "C:\\Dict", "C:\\Dict\\"},
        {"bytes after the NUL", std::string("6.0\0xyz", 7), std::string("C:\\Dict\0D:\\", 11), "C:\\Dict\\"},
        {"double-byte trail backslash", std::string("6.0", 4), std::string("C:\\\x95\x5C", 6), "C:\\\x95\x5C"},
        {"247 bytes with separator", std::string("6.0", 4), "C:\\" + d243 + "\\", "C:\\" + d243 + "\\"},
        {"246 bytes, separator added", std::string("6.0", 4), "C:\\" + d243, "C:\\" + d243 + "\\"},
    };
    for (const PathCase& c : table) {
        ResetRegistry();
        SetValue(kInstall, "CurrentVersion", c.version);
        SetValue(kDict, "00010301Path", c.dir);
        EXPECT_EQ(RunIndexJob(), 1) << c.name;
        EXPECT_EQ(CallLog(), kFullRun) << c.name;
        ExpectKeysBalanced();
        const RecordedJob& job = Job();
        ASSERT_EQ(job.calls, 1) << c.name;
        EXPECT_EQ(job.target, c.dirUsed + "00010301.idx") << c.name;
        EXPECT_EQ(job.count, 2) << c.name;
        ASSERT_EQ(job.sources.size(), 2u) << c.name;
        EXPECT_EQ(job.sources[0], c.dirUsed + "01010301.idx") << c.name;
        EXPECT_EQ(job.sources[1], c.dirUsed + "7F010301.idx") << c.name;
        EXPECT_EQ(job.compare, &CompareHeadwords) << c.name;
    }
}

/* Registry data that would not fit, or leaves no room, ends the run before the library. */
TEST(IndexJob, OversizedValuesStopBeforeTheLibrary)
{
    const PathCase table[] = {
        {"version over 260 bytes", "6.0" + std::string(300, ' ') + '\0', std::string("C:\\Dict", 8), ""},
        {"version of 260 bytes, no NUL", "6.0" + std::string(257, ' '), std::string("C:\\Dict", 8), ""},
        {"directory over 260 bytes", std::string("6.0", 4), "C:\\" + std::string(300, 'd') + '\0', ""},
        {"directory of 260 bytes, no NUL", std::string("6.0", 4), "C:\\" + std::string(257, 'd'), ""},
        {"directory of 259 bytes, no NUL", std::string("6.0", 4), "C:\\" + std::string(256, 'd'), ""},
        {"248 bytes with separator", std::string("6.0", 4), "C:\\" + std::string(244, 'd') + "\\", ""},
        {"247 bytes, separator needed", std::string("6.0", 4), "C:\\" + std::string(244, 'd'), ""},
    };
    for (const PathCase& c : table) {
        ResetRegistry();
        SetValue(kInstall, "CurrentVersion", c.version);
        SetValue(kDict, "00010301Path", c.dir);
        EXPECT_EQ(RunIndexJob(), 0) << c.name;
        EXPECT_EQ(Job().calls, 0) << c.name;
        ExpectKeysBalanced();
    }
}

TEST(IndexJob, ValueTypeIsNotExamined)
{
    const uint32_t types[] = {1 /* REG_SZ */, 2 /* REG_EXPAND_SZ */, 3 /* REG_BINARY */,
                              4 /* REG_DWORD */, 7 /* REG_MULTI_SZ */};
    for (uint32_t type : types) {
        ResetRegistry();
        SetValue(kInstall, "CurrentVersion", std::string("6.0\0", 4), type);
        SetValue(kDict, "00010301Path", std::string("%SystemRoot%\\Dict\0", 18), type);
        EXPECT_EQ(RunIndexJob(), 1) << type;
        EXPECT_EQ(Job().target, "%SystemRoot%\\Dict\\00010301.idx") << type;
    }
}

TEST(IndexJob, LibraryResultIsIgnored)
{
    for (int32_t result : {0, 1, -1, 7, INT32_MIN, INT32_MAX}) {
        ResetRegistry();
        SetValue(kInstall, "CurrentVersion", std::string("6.0", 4));
        SetValue(kDict, "00010301Path", std::string("C:\\Dict", 8));
        SetLibraryResult(result);
        EXPECT_EQ(RunIndexJob(), 1) << result;
    }
}

}  // namespace
