/*
** idxtool's commands for dictionary editors: why two keys sort as they do,
** every record of a headword, whether a reader's binary search reaches
** every key, merging, and what a merge would do.  Each prints its report on stdout,
** its problems on stderr, and returns the process's exit status.
*/
#ifndef IDXTOOL_EDITOR_COMMANDS_H
#define IDXTOOL_EDITOR_COMMANDS_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "collation/compare_headwords_plain.h"
#include "orlixdb/index_format.h"

/* The name explain prints for a rule: "letters", "case", ... */
const char* HeadwordRuleName(enum HeadwordRule rule);

/*
** The text explain prints for two keys (key bytes, no escapes): a first
** line "RESULT<TAB>RULE", then lines for people.  *result is set to the
** comparison's value.
*/
std::string ExplainKeys(const std::string& first, const std::string& second, int32_t* result);

/* idxtool explain KEY1 KEY2, the keys in the text form.  0, or 2 on a bad key. */
int ExplainCommand(const char* first, const char* second);

/*
** The positions of the records of the headword of `key`, in index order:
** those whose key, with A-Z folded to a-z, everything from the first "@"
** cut off and the whitespace at the ends of what is left dropped,
** compares 0 with `key` so treated.
*/
std::vector<size_t> FindHeadword(const std::vector<IndexRecord>& records, const std::string& key);

/*
** idxtool find FILE KEY: 0 when records were found, 1 when none, when
** FILE is out of headword order or cannot be loaded.
*/
int FindCommand(const char* path, const char* key);

/* A record a reader's binary search cannot reach, and the probe that turned it away. */
struct UnreachableKey {
    size_t record;      /* position of the record */
    size_t misleading;  /* position of the probe that sent the search away */
    int32_t comparison; /* CompareHeadwords(key, probe's key) there */
    bool equalRun;      /* the search ended in a run of equal keys without it */
};

/*
** Look every record's key up as a reader of the index does: probe the
** middle of [low, high); CompareHeadwords(key, probe) < 0 goes left, > 0
** right; on 0 the run of neighbours comparing 0 is searched for the exact
** key bytes.  Returns the records the search does not reach.
*/
std::vector<UnreachableKey> FindUnreachableKeys(const std::vector<IndexRecord>& records);

/*
** idxtool check [--lookup] FILE: 0, or 1 when FILE cannot be loaded, is
** out of headword order (where it leaves the order is named) or, with
** lookup, holds a key a reader's binary search does not reach.
*/
int CheckCommand(const char* path, bool lookup);

/* What a merge of sources into a target would do. */
struct MergePlan {
    size_t targetRecords;  /* records in the target as it is (0 when missing) */
    size_t targetKept;     /* of those, the records the merge keeps */
    size_t sourceRecords;  /* records in all sources */
    size_t added;          /* records the target does not hold yet */
    size_t alreadyPresent; /* source records dropped as repeats */
    size_t resultRecords;  /* records of the merged index */
    bool targetExists;
    bool changes;          /* the target file would be written */
    std::vector<const char*> missingSources; /* no such file: counted as empty */
};

/*
** Ask the library what the merge of target and sources would do, with
** nothing written: the image the job would write, and what it kept of each
** input.  Returns false with *problem and *failed (the file at fault) when
** the job would stop: an input it cannot read or that is not an intact
** index, or a result too large.  plan->missingSources is filled either way,
** as far as the inputs were read.
*/
bool PlanMerge(const char* target, int count, char** sources, MergePlan* plan,
               std::string* problem, std::string* failed);

/*
** idxtool merge --dry-run TARGET SOURCE...: 0, or 1 when an input is
** unusable or, unless missingOk, a source is missing.
*/
int MergeDryRunCommand(const char* target, int count, char** sources, bool missingOk);

/*
** idxtool merge TARGET SOURCE...: the library's index job.  0, or 1 when
** the job failed or, unless missingOk, a source was missing (the others
** are merged all the same).  quiet drops the success line; problems go to
** stderr.
*/
int MergeCommand(const char* target, int count, char** sources, bool quiet, bool missingOk);

#endif
