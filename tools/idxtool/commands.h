/*
** idxtool's commands as rows: each command's file defines its row, with
** its command line (operands, options, help) and the function that runs
** it, and the dispatcher lists the rows.  The options of every command
** fill one typed struct as they are read.
*/
#ifndef IDXTOOL_COMMANDS_H
#define IDXTOOL_COMMANDS_H

#include <vector>

#include "common/arguments.h"

struct IdxtoolOptions {
    bool quiet;      /* build, merge: -q */
    bool keepOrder;  /* build --keep-order */
    bool force;      /* build --force */
    bool lookup;     /* check --lookup */
    bool dryRun;     /* merge -n */
    bool missingOk;  /* merge --missing-ok */
};

struct IdxtoolCommand {
    ToolCommand line;
    /*
    ** How many operands, from the first, name files (-1: all): such an
    ** operand may not be empty, nor "-" unless it is operand `standardInput`
    ** (-1: none), which reads standard input for "-".
    */
    int files;
    int standardInput;
    int (*run)(const IdxtoolOptions& options, const std::vector<const char*>& operands);
};

extern const IdxtoolCommand kBuildCommand, kDumpCommand, kCheckCommand, kMergeCommand,
    kExplainCommand, kFindCommand;

#endif
