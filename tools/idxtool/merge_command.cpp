/*
** idxtool merge and merge --dry-run, side by side.  The merge is the
** library's index job; the dry run says what that job would do, with
** nothing written.  The inputs are read and checked as the job reads them, the
** records kept and ordered as the job keeps and orders them (first
** occurrence of each distinct key and reference, target first; the same
** stable sort under the same collation), and the image that would be
** written is built and compared with the target's bytes.
*/
#include <stdio.h>
#include <string.h>

#include <unordered_set>

#include "collation/compare_headwords.h"
#include "orlixdb/file_io.h"
#include "orlixdb/orlixdb.h"
#include "editor_commands.h"
#include "loaded_index.h"
#include "safe_sort/safe_sort.h"

static int32_t CompareRecordKeys(const void* a, const void* b, void*)
{
    return CompareHeadwords(((const IndexRecord*)a)->key, ((const IndexRecord*)b)->key);
}

/* A record's identity: its key bytes and its reference, as the job compares them. */
static std::string Identity(const IndexRecord& r)
{
    std::string id(r.key, r.length);
    id.append((const char*)&r.reference, sizeof r.reference);
    return id;
}

bool PlanMerge(const char* target, int count, char* const* sources, MergePlan* plan,
               std::string* problem, const char** failed)
{
    std::vector<LoadedIndex> inputs((size_t)count + 1);
    for (int n = 0; n <= count; n++) {
        *failed = n == 0 ? target : sources[n - 1];
        if (LoadIndexFile(*failed, true, &inputs[(size_t)n], problem) != nullptr) return false;
    }
    *failed = target;

    *plan = MergePlan{};
    plan->targetExists = !inputs[0].missing;
    plan->targetRecords = inputs[0].records.size();
    std::unordered_set<std::string> seen;
    std::vector<const void*> items;
    for (size_t n = 0; n < inputs.size(); n++) {
        for (const IndexRecord& r : inputs[n].records) {
            if (n > 0) plan->sourceRecords++;
            if (!seen.insert(Identity(r)).second) continue;
            items.push_back(&r);
            if (n > 0) plan->added++;
        }
    }
    plan->alreadyPresent = plan->sourceRecords - plan->added;
    plan->resultRecords = items.size();

    std::vector<const void*> scratch(items.size());
    SafeStableSort(items.data(), items.size(), scratch.data(), CompareRecordKeys, nullptr);
    const IndexRecord* const* sorted = (const IndexRecord* const*)items.data();
    uint64_t size = IndexImageSize(sorted, items.size());
    if (size == 0) return *problem = "the merged index would be too large", false;
    std::vector<uint8_t> image((size_t)size);
    IndexWriteImage(image.data(), sorted, items.size());
    plan->changes = plan->targetExists ? image != inputs[0].bytes : !items.empty();
    return true;
}

int MergeDryRunCommand(const char* target, int count, char** sources)
{
    MergePlan plan;
    std::string problem;
    const char* failed = target;
    if (!PlanMerge(target, count, sources, &plan, &problem, &failed)) {
        fprintf(stderr, "idxtool: %s: %s; a merge would stop here\n", failed, problem.c_str());
        return 1;
    }
    size_t targetKept = plan.resultRecords - plan.added;
    printf("%s: dry run, nothing written\n", target);
    printf("  target:          %zu records%s\n", plan.targetRecords,
           plan.targetExists ? "" : " (no such file: taken as empty)");
    if (plan.targetRecords != targetKept)
        printf("  target repeats:  %zu records the merge would drop\n",
               plan.targetRecords - targetKept);
    printf("  sources:         %zu records in %d files\n", plan.sourceRecords, count);
    printf("  added:           %zu records\n", plan.added);
    printf("  already present: %zu records\n", plan.alreadyPresent);
    printf("  result:          %zu records\n", plan.resultRecords);
    if (!plan.changes)
        printf("  %s would stay as it is%s\n", target,
               plan.targetExists ? "" : " (nothing to index, no file would be written)");
    else
        printf("  %s would be %s\n", target, plan.targetExists ? "rewritten" : "created");
    return fflush(stdout) == 0 ? 0 : 1;
}

static int Fail(const char* file, const std::string& problem)
{
    fprintf(stderr, "idxtool: %s: %s\n", file, problem.c_str());
    return 1;
}

/* "the step" or "the step: the system's reason". */
static std::string StatusText(const char* action, int error)
{
    std::string text = action != nullptr ? action : "failed";
    if (error == 0) return text;
    char reason[256];
    return text + ": " + FileErrorText(error, reason, sizeof reason);
}

/*
** The job reports the file it failed on, the step and the system's
** reason; nothing is read again to explain a failure.
*/
int MergeCommand(const char* target, int count, char** sources, bool quiet)
{
    OrlixMergeReport report;
    int32_t result = OrlixMergeIndexesReporting(target, count, sources, CompareHeadwords,
                                                kFileLockWaitMs, &report);
    if (result == kOrlixOk) {
        LoadedIndex merged;
        std::string problem;
        if (LoadIndexFile(target, true, &merged, &problem) != nullptr) return Fail(target, problem);
        if (quiet) return 0;
        if (merged.missing)
            printf("%s: ok, nothing to index, no file written\n", target);
        else
            printf("%s: ok, %zu records\n", target, merged.records.size());
        return 0;
    }
    if (report.action != nullptr) {
        bool corrupt = result == kOrlixCorrupt && report.indexProblem != kIndexFine;
        Fail(report.path, corrupt ? IndexProblemWords(report.indexProblem, report.badRecord)
                                  : StatusText(report.action, report.systemError));
    }
    fprintf(stderr, "idxtool: merge into %s: %s (result %d); %s %s\n", target,
            OrlixResultText(result), (int)result, target,
            report.targetReplaced ? "holds the merged index" : "is unchanged");
    return 1;
}
