/*
** The one argument parser of the maintainer's tools.  A command is a row
** of a table: its name, its options, how many operands it takes and its
** help.  The whole command line is read before the command runs, so a
** slip (an unknown option, a missing value, a wrong count of operands) is
** reported before any file is opened.
**
** The rules are those of the usual Unix tools: options may stand before,
** between or after the operands; "--" ends them, and after it every
** argument is an operand; "-" alone is an operand; short options bundle
** ("-qf") and take a value joined or apart ("-ofile", "-o file"); long
** ones take it as "--name=value" or "--name value".  "--help" anywhere
** before "--" asks for the command's help.
**
** It is small and our own, not a general library's: a slip must be one
** line in the tools' own form with exit status 2, keys that begin with
** '-' must pass as operands, and the same code must build for Windows
** with mingw-w64, whose include path holds no host headers.
*/
#ifndef TOOLS_COMMON_ARGUMENTS_H
#define TOOLS_COMMON_ARGUMENTS_H

#include <string>
#include <vector>

/* One option: its letter (0 for none), its long name (null for none). */
struct ToolOption {
    char letter;
    const char* name;
    bool takesValue;
    const char* help; /* "-q, --quiet   ..." lines for the help, or null */
};

struct ToolCommand {
    const char* name;     /* null for a tool without commands */
    const char* operands; /* for the usage line: "OUT TEXT" */
    int minOperands, maxOperands;
    /*
    ** Operands may begin with '-' (they are keys): every argument but
    ** "--help" and "--" is an operand.  For commands with no options.
    */
    bool dashOperands;
    const ToolOption* options; /* ends with a row of all zeros */
    const char* summary;       /* what the command does, for the help */
};

/* What a command line said. */
struct ToolArguments {
    bool help;
    std::vector<const char*> operands;
    std::vector<const char*> values; /* per option row: its last value, "" for a flag; null unset */
    int repeated;                    /* row of an option with a value given twice, or -1 */
};

/*
** Read argv[0 .. argc) (the arguments after the command's name) by the
** command's row.  Returns true, or false with *problem set to the slip in
** words, one line.
*/
bool ToolParse(const ToolCommand* command, int argc, char** argv, ToolArguments* args,
               std::string* problem);

/* The value of the option with that letter or name, or null when unset. */
const char* ToolOptionValue(const ToolCommand* command, const ToolArguments* args, const char* name);

/*
** The help of one command, as `TOOL COMMAND --help` prints it: the usage
** line, the summary, a blank line and the options.  The form is the one
** help2man reads, for the manuals are made from it: no two spaces inside
** a sentence, each option on a line of its own.
*/
std::string ToolCommandHelp(const char* tool, const ToolCommand* command);

#endif
