/*
** idxtool: the maintainer's tool for index files.  Every failure names the
** file, the step and the system's reason on stderr and ends with a nonzero
** exit status; a slip on the command line is found before any file is
** opened, and ends with status 2.  The commands are rows (commands.h),
** each in a file of its own; this file picks the row, reads the command
** line by it and shows the help.
*/
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "common/arguments.h"
#include "common/tool_common.h"
#include "orlixdb/file_io.h"
#include "commands.h"

static const char kTool[] = "idxtool";

static const IdxtoolCommand* const kCommands[] = {
    &kBuildCommand, &kDumpCommand, &kCheckCommand, &kMergeCommand, &kExplainCommand, &kFindCommand,
};

static const ToolCommand kHelpLine = {"help", "[COMMAND]", 0, 1, false, nullptr,
                                      "  Show this text, or the help of one command.\n"};

static const char kIntro[] =
    "Usage: idxtool COMMAND [OPTION]... OPERAND...\n"
    "The maintainer's tool for the index files of the dictionary: make them\n"
    "from text, print, check and merge them, and see why keys sort as they do.\n"
    "Options may stand anywhere among the operands; after \"--\" every argument\n"
    "is an operand. A wrong command line is reported before any file is opened.\n";

static const char kGeneral[] =
    "\n"
    "General options:\n"
    "  -h, --help         show this text; after a command, that command's help\n"
    "      --version      show the version\n";

static const char kNotes[] =
    "\n"
    "In keys, \\\\ is a backslash, \\t a TAB, \\n a newline and \\xHH any other\n"
    "byte but NUL. Keys hold 1 to 1024 bytes; references are 0 to 4294967295.\n"
    "Exit status: 0 success, 1 failure (or no record found, or a file out of\n"
    "order), 2 wrong usage (nothing was touched).\n";

/* The whole help, every command with its options; or one command's. */
static int Help(const ToolCommand* only)
{
    std::string text;
    if (only != nullptr) {
        text = ToolCommandHelp(kTool, only) + kNotes;
    } else {
        text = kIntro;
        for (const IdxtoolCommand* c : kCommands)
            text += "\n" + ToolCommandHelp(kTool, &c->line).substr(strlen("Usage: "));
        text += "\n" + ToolCommandHelp(kTool, &kHelpLine).substr(strlen("Usage: "));
        text += kGeneral;
        text += kNotes;
    }
    ToolWrite(text.data(), text.size());
    return ToolFinishOutput(kTool);
}

static const ToolCommand* LineNamed(const char* name, const IdxtoolCommand** command)
{
    *command = nullptr;
    for (const IdxtoolCommand* c : kCommands)
        if (strcmp(c->line.name, name) == 0) return *command = c, &c->line;
    return strcmp(name, kHelpLine.name) == 0 ? &kHelpLine : nullptr;
}

/*
** The operands that name files: none empty, and "-" only where a command
** reads standard input (build's TEXT); a file of that name is "./-".
*/
static int CheckFileOperands(const IdxtoolCommand* command, const std::vector<const char*>& op)
{
    size_t files = command->files < 0 ? op.size() : (size_t)command->files;
    for (size_t n = 0; n < files && n < op.size(); n++) {
        if (op[n][0] == 0)
            return ToolUsage(kTool, command->line.name, "an empty operand names no file");
        if (strcmp(op[n], "-") == 0 && (int)n != command->standardInput)
            return ToolUsage(kTool, command->line.name,
                             "'-' is standard input, which only build's TEXT reads; "
                             "a file named - is ./-");
    }
    return kToolOk;
}

int main(int argc, char** argv)
{
    FileJobsCleanUpOnSignals();
#if defined(_WIN32)
    /* Dumps and built files must be the same bytes on every platform. */
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    if (argc < 2) return ToolUsage(kTool, nullptr, "no command");
    const char* name = argv[1];
    if (strcmp(name, "--help") == 0 || strcmp(name, "-h") == 0) return Help(nullptr);
    if (strcmp(name, "--version") == 0) {
        printf("idxtool %s\n", ORLIX_VERSION);
        return ToolFinishOutput(kTool);
    }
    const IdxtoolCommand* command;
    const ToolCommand* line = LineNamed(name, &command);
    if (line == nullptr)
        return ToolUsage(kTool, nullptr, ("unknown command '" + std::string(name) + "'").c_str());
    IdxtoolOptions options = {};
    ToolArguments args;
    std::string problem;
    if (!ToolParse(line, argc - 2, argv + 2, &options, &args, &problem))
        return ToolUsage(kTool, line->name, problem.c_str());
    if (args.help) return Help(line);
    if (command == nullptr) {
        if (args.operands.empty()) return Help(nullptr);
        const ToolCommand* about = LineNamed(args.operands[0], &command);
        if (about != nullptr) return Help(about);
        return ToolUsage(kTool, "help", ("no command '" + std::string(args.operands[0]) + "'").c_str());
    }
    int status = CheckFileOperands(command, args.operands);
    if (status != kToolOk) return status;
    /* No command reports success unless standard output took all it printed. */
    status = command->run(options, args.operands);
    return status == kToolOk ? ToolFinishOutput(kTool) : status;
}
