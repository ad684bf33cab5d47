/* Helpers shared by the stand-in library's tests: files, records, damage. */
#ifndef TESTS_ORLIXDB_INDEX_FIXTURE_H
#define TESTS_ORLIXDB_INDEX_FIXTURE_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "orlixdb/index_format.h"
#include "orlixdb/orlixdb.h"

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

/*
** A table of ways to damage an index file, to apply to a fresh copy of a
** well-formed one.  DamageProblem is what IndexCheck says of the damaged
** copy of the index of "abc"/1 and "de"/2; every entry is refused.
*/
size_t DamageCount();
const char* DamageName(size_t n);
void ApplyDamage(size_t n, std::vector<uint8_t>* bytes);
IndexProblem DamageProblem(size_t n);

/*
** A merge through the library's entry point, ordered by CompareHeadwords,
** with a lock wait of waitMs: *report and inputs[0 .. sources + 1) (when
** not null) as the library fills them.  With `image`, a dry run that
** leaves the image there (free() its bytes).
*/
int32_t Merge(const char* target, const std::vector<const char*>& sources, uint32_t waitMs,
              OrlixMergeReport* report = nullptr, OrlixMergeInput* inputs = nullptr,
              OrlixMergedImage* image = nullptr);

/* A fresh directory, removed with its contents when the object goes. */
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::vector<std::string> Entries() const; /* sorted */
    /* What a job may leave by mistake: temporaries and lock files (of any target). */
    std::vector<std::string> Leftovers() const;

private:
    std::string dir_;
};

#endif
