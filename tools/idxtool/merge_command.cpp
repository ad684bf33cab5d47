/*
** idxtool merge and merge --dry-run, side by side.  Both ask the library:
** the merge runs its index job, the dry run has it build the image that
** job would write, and whether that changes the target, writing nothing.
** So the two cannot disagree on what is kept or how it is ordered.  Both name
** every source that does not exist, since the job quietly counts such a
** source as empty and a misspelt name would otherwise merge nothing.
*/
#include <stdio.h>
#include <stdlib.h>

#include "collation/compare_headwords.h"
#include "common/tool_common.h"
#include "editor_commands.h"
#include "loaded_index.h"
#include "orlixdb/file_io.h"
#include "orlixdb/orlixdb.h"

/* What a failed merge or plan was stopped by, in words; *file the file concerned. */
static std::string ProblemOf(int32_t result, const OrlixMergeReport& report, const char* target,
                             std::string* file)
{
    *file = report.action != nullptr ? report.path : target;
    if (report.action == nullptr) return OrlixResultText(result);
    if (result == kOrlixCorrupt && report.indexProblem != kIndexFine)
        return IndexProblemWords(report.indexProblem, report.badRecord);
    return ToolStepText(report.action, report.systemError);
}

/* The sources among inputs[1 .. count] that the library found missing. */
static std::vector<const char*> MissingSources(int count, char** sources,
                                               const std::vector<OrlixMergeInput>& inputs)
{
    std::vector<const char*> missing;
    for (int n = 1; n <= count; n++)
        if (inputs[(size_t)n].missing) missing.push_back(sources[n - 1]);
    return missing;
}

static void NameMissing(const std::vector<const char*>& missing)
{
    for (const char* path : missing)
        ToolFail("idxtool", path, "no such file, counted as empty", 0);
}

bool PlanMerge(const char* target, int count, char** sources, MergePlan* plan,
               std::string* problem, std::string* failed)
{
    *plan = MergePlan{};
    std::vector<OrlixMergeInput> inputs((size_t)count + 1);
    OrlixMergeRequest request = {target, count, sources, CompareHeadwords, kFileLockWaitMs, true, inputs.data()};
    OrlixMergeResult done;
    int32_t result = OrlixMerge(&request, &done);
    const OrlixMergeReport& report = done.report;
    const OrlixMergedImage& merged = done.image;
    plan->missingSources = MissingSources(count, sources, inputs);
    if (result != kOrlixOk) return *problem = ProblemOf(result, report, target, failed), false;
    free(merged.bytes);

    plan->targetExists = !inputs[0].missing;
    plan->targetRecords = inputs[0].records;
    plan->targetKept = inputs[0].kept;
    for (size_t n = 1; n < inputs.size(); n++) {
        plan->sourceRecords += inputs[n].records;
        plan->added += inputs[n].kept;
    }
    plan->alreadyPresent = plan->sourceRecords - plan->added;
    plan->resultRecords = merged.records;
    plan->changes = !merged.unchanged;
    return true;
}

int MergeDryRunCommand(const char* target, int count, char** sources)
{
    MergePlan plan;
    std::string problem, failed;
    bool planned = PlanMerge(target, count, sources, &plan, &problem, &failed);
    NameMissing(plan.missingSources);
    if (!planned) {
        problem += "; a merge would stop here";
        return ToolFail("idxtool", failed.c_str(), problem.c_str(), 0);
    }
    printf("%s: dry run, nothing written\n", target);
    printf("  target:          %zu records%s\n", plan.targetRecords,
           plan.targetExists ? "" : " (no such file: taken as empty)");
    if (plan.targetRecords != plan.targetKept)
        printf("  target repeats:  %zu records the merge would drop\n",
               plan.targetRecords - plan.targetKept);
    printf("  sources:         %zu records in %d files\n", plan.sourceRecords, count);
    printf("  added:           %zu records\n", plan.added);
    printf("  already present: %zu records\n", plan.alreadyPresent);
    printf("  result:          %zu records\n", plan.resultRecords);
    if (!plan.changes)
        printf("  %s would stay as it is%s\n", target,
               plan.targetExists ? "" : " (nothing to index, no file would be written)");
    else
        printf("  %s would be %s\n", target, plan.targetExists ? "rewritten" : "created");
    return ToolFinishOutput("idxtool");
}

/*
** The job reports the file it failed on, the step and the system's
** reason, and what it kept of each input, so nothing is read again to
** explain a failure or to count the result.
*/
int MergeCommand(const char* target, int count, char** sources, bool quiet)
{
    std::vector<OrlixMergeInput> inputs((size_t)count + 1);
    OrlixMergeRequest request = {target, count, sources, CompareHeadwords, kFileLockWaitMs, false, inputs.data()};
    OrlixMergeResult done;
    int32_t result = OrlixMerge(&request, &done);
    const OrlixMergeReport& report = done.report;
    NameMissing(MissingSources(count, sources, inputs));
    if (result != kOrlixOk) {
        std::string file, problem = ProblemOf(result, report, target, &file);
        if (report.action != nullptr) ToolFail("idxtool", file.c_str(), problem.c_str(), 0);
        fprintf(stderr, "idxtool: merge into %s: %s (result %d); %s %s\n", target,
                OrlixResultText(result), (int)result, target,
                report.targetReplaced ? "holds the merged index" : "is unchanged");
        return 1;
    }
    size_t records = 0;
    for (const OrlixMergeInput& in : inputs) records += in.kept;
    if (quiet) return 0;
    if (inputs[0].missing && records == 0)
        printf("%s: ok, nothing to index, no file written\n", target);
    else
        printf("%s: ok, %zu records\n", target, records);
    return 0;
}
