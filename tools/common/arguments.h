/*
** The one argument parser of the maintainer's tools.  A command is a row
** of a table: its name, its options, how many operands it takes and its
** help.  Each option row has a handler that fills the command's typed
** options struct as the option is read, so nothing is looked up by name
** afterwards.  The whole command line is read before the command runs, so
** a slip (an unknown option, a missing value, a wrong count of operands)
** is reported before any file is opened.
**
** The rules are those of the usual Unix tools: options may stand before,
** between or after the operands; "--" ends them, and after it every
** argument is an operand; "-" alone is an operand; short options bundle
** ("-qf") and take a value joined or apart ("-ofile", "-o file"); long
** ones take it as "--name=value" or "--name value".  "--help" and "-h"
** anywhere before "--" ask for the command's help.  A slip names the
** option as it was typed.
**
** It is small and our own, not a general library's: a slip must be one
** line in the tools' own form with exit status 2, keys that begin with
** '-' must pass as operands, and the same code must build for Windows
** with mingw-w64.
*/
#ifndef TOOLS_COMMON_ARGUMENTS_H
#define TOOLS_COMMON_ARGUMENTS_H

#include <string>
#include <vector>

enum ToolValue {
    kToolNoValue,
    kToolValue,
    kToolOptionalValue /* only as "--name=value"; "--name" alone passes null */
};

/*
** Fill the command's options struct for one option.  `typed` is the
** option as the user wrote it ("-k", "--key"), for messages; value is
** null for an option without one.  False with *problem, one line.
*/
typedef bool (*ToolTake)(void* options, const char* typed, const char* value,
                         std::string* problem);

/* One option: its letter (0 for none), its long name (null for none). */
struct ToolOption {
    char letter;
    const char* name;
    enum ToolValue value;
    ToolTake take;
    const char* help; /* "-q, --quiet   ..." lines for the help, or "" */
};

/* The handler of a flag: sets a bool of the options struct. */
template <typename Options, bool Options::*field>
bool ToolSetFlag(void* options, const char*, const char*, std::string*)
{
    return ((Options*)options)->*field = true;
}

/* Keep a value an option may be given once: "option '-o' given twice" else. */
bool ToolTakeOnce(const char** slot, const char* typed, const char* value, std::string* problem);

struct ToolCommand {
    const char* name;     /* null for a tool without commands */
    const char* operands; /* for the usage line: "OUT TEXT" */
    int minOperands, maxOperands; /* maxOperands -1: no limit */
    /*
    ** Operands may begin with '-' (they are keys): every argument but
    ** "--help", "-h" and "--" is an operand.  For commands with no options.
    */
    bool dashOperands;
    const ToolOption* options; /* ends with a row whose take is null; or null */
    const char* summary;       /* what the command does, for the help */
};

/* What a command line said besides its options. */
struct ToolArguments {
    bool help;
    std::vector<const char*> operands;
};

/*
** Read argv[0 .. argc) (the arguments after the command's name) by the
** command's row, each option through its handler into *options.  Returns
** true, or false with *problem set to the slip in words, one line.
*/
bool ToolParse(const ToolCommand* command, int argc, char** argv, void* options,
               ToolArguments* args, std::string* problem);

/*
** The help of one command, as `TOOL COMMAND --help` prints it: the usage
** line, the summary, a blank line and the options, "-h, --help" last.
** The form is the one help2man reads, for the manuals are made from it:
** no two spaces inside a sentence, each option on a line of its own.
*/
std::string ToolCommandHelp(const char* tool, const ToolCommand* command);

#endif
