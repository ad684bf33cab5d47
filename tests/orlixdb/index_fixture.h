/* Helpers shared by the stand-in library's tests: files and records. */
#ifndef TESTS_ORLIXDB_INDEX_FIXTURE_H
#define TESTS_ORLIXDB_INDEX_FIXTURE_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

typedef std::pair<std::string, uint32_t> Rec;
typedef std::vector<Rec> Recs;

/* The bytes of a well-formed index holding `records` in this order. */
std::vector<uint8_t> IndexBytes(const Recs& records);

/* Recompute the trailing checksum, so a test can damage what lies under it. */
void ResealChecksum(std::vector<uint8_t>* bytes);

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);
bool FileExists(const std::string& path);

/* The records of a well-formed index file; fails the test if it is not one. */
Recs ReadRecords(const std::string& path);

/* The table of damaged files of index_format_test.cpp, to apply to any index. */
size_t DamageCount();
const char* DamageName(size_t n);
void ApplyDamage(size_t n, std::vector<uint8_t>* bytes);

/* A fresh directory, removed with its contents when the object goes. */
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::vector<std::string> Entries() const;

private:
    std::string dir_;
};

#endif
