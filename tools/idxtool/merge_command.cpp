/*
** idxtool merge and merge --dry-run, side by side.  Both ask the library:
** the merge runs its index job, the dry run has it build the image that
** job would write, and whether that changes the target, writing nothing.
** So the two cannot disagree on what is kept or how it is ordered.  Both name
** every source that does not exist and, unless --missing-ok, end with exit
** status 1 after merging the others, as cp does: the job quietly counts
** such a source as empty, and a misspelt name would otherwise merge
** nothing while a script took it for success.
*/
#include <stdio.h>
#include <stdlib.h>

#include "collation/compare_headwords.h"
#include "common/tool_common.h"
#include "commands.h"
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

/* Name the missing sources; the exit status they leave a finished merge with. */
static int NameMissing(const std::vector<const char*>& missing, bool missingOk)
{
    for (const char* path : missing)
        ToolFail("idxtool", path, "no such file, counted as empty", 0);
    return missing.empty() || missingOk ? kToolOk : kToolFailure;
}

static std::string Records(size_t count)
{
    return ToolCount(count, "record");
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

int MergeDryRunCommand(const char* target, int count, char** sources, bool missingOk)
{
    MergePlan plan;
    std::string problem, failed;
    bool planned = PlanMerge(target, count, sources, &plan, &problem, &failed);
    int status = NameMissing(plan.missingSources, missingOk);
    if (!planned) {
        problem += "; a merge would stop here";
        return ToolFail("idxtool", failed.c_str(), problem.c_str(), 0);
    }
    printf("%s: dry run, nothing written\n", target);
    printf("  target:          %s%s\n", Records(plan.targetRecords).c_str(),
           plan.targetExists ? "" : " (no such file: taken as empty)");
    if (plan.targetRecords != plan.targetKept)
        printf("  target repeats:  %s the merge would drop\n",
               Records(plan.targetRecords - plan.targetKept).c_str());
    printf("  sources:         %s in %s\n", Records(plan.sourceRecords).c_str(),
           ToolCount((size_t)count, "file").c_str());
    printf("  added:           %s\n", Records(plan.added).c_str());
    printf("  already present: %s\n", Records(plan.alreadyPresent).c_str());
    printf("  result:          %s\n", Records(plan.resultRecords).c_str());
    if (!plan.changes)
        printf("  %s would stay as it is%s\n", target,
               plan.targetExists ? "" : " (nothing to index, no file would be written)");
    else
        printf("  %s would be %s\n", target, plan.targetExists ? "rewritten" : "created");
    int written = ToolFinishOutput("idxtool");
    return written != kToolOk ? written : status;
}

/*
** The job reports the file it failed on, the step and the system's
** reason, and what it kept of each input, so nothing is read again to
** explain a failure or to count the result.
*/
int MergeCommand(const char* target, int count, char** sources, bool quiet, bool missingOk)
{
    std::vector<OrlixMergeInput> inputs((size_t)count + 1);
    OrlixMergeRequest request = {target, count, sources, CompareHeadwords, kFileLockWaitMs, false, inputs.data()};
    OrlixMergeResult done;
    int32_t result = OrlixMerge(&request, &done);
    const OrlixMergeReport& report = done.report;
    int status = NameMissing(MissingSources(count, sources, inputs), missingOk);
    if (result != kOrlixOk) {
        std::string file, problem = ProblemOf(result, report, target, &file);
        if (report.action != nullptr) ToolFail("idxtool", file.c_str(), problem.c_str(), 0);
        ToolSay("idxtool", "merge into " + std::string(target) + ": " + OrlixResultText(result) +
                               " (result " + std::to_string(result) + "); " + target +
                               (report.targetReplaced ? " holds the merged index" : " is unchanged"));
        return kToolFailure;
    }
    size_t records = 0;
    for (const OrlixMergeInput& in : inputs) records += in.kept;
    if (quiet) return status;
    if (inputs[0].missing && records == 0)
        printf("%s: ok, nothing to index, no file written\n", target);
    else
        printf("%s: ok, %s%s\n", target, inputs[0].missing ? "created, " : "", Records(records).c_str());
    return status;
}

static int RunMerge(const IdxtoolOptions& o, const std::vector<const char*>& op)
{
    char** sources = (char**)op.data() + 1;
    int count = (int)op.size() - 1;
    if (o.dryRun) return MergeDryRunCommand(op[0], count, sources, o.missingOk);
    return MergeCommand(op[0], count, sources, o.quiet, o.missingOk);
}

static const ToolOption kMergeOptions[] = {
    {'q', "quiet", kToolNoValue, ToolSetFlag<IdxtoolOptions, &IdxtoolOptions::quiet>,
     "  -q, --quiet        print nothing on success\n"},
    {'n', "dry-run", kToolNoValue, ToolSetFlag<IdxtoolOptions, &IdxtoolOptions::dryRun>,
     "  -n, --dry-run      say what the merge would do; write nothing\n"},
    {0, "missing-ok", kToolNoValue, ToolSetFlag<IdxtoolOptions, &IdxtoolOptions::missingOk>,
     "      --missing-ok   a missing SOURCE is no failure (exit 0)\n"},
    {0, nullptr, kToolNoValue, nullptr, nullptr},
};

extern const IdxtoolCommand kMergeCommand = {
    {"merge", "TARGET SOURCE...", 2, 1 + kOrlixMaxSources, false, kMergeOptions,
     "  Merge the sources into TARGET as the utility's index job does. A\n"
     "  missing SOURCE counts as empty: it is named, the others are merged,\n"
     "  and the exit status is 1 unless --missing-ok.\n"},
    -1, -1, RunMerge};
