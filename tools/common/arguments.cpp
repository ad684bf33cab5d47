#include "arguments.h"

#include <string.h>

static std::string Quoted(const char* text, size_t length)
{
    return "'" + std::string(text, length) + "'";
}

static int FindOption(const ToolCommand* command, char letter, const char* name, size_t length)
{
    for (int n = 0; command->options != nullptr && command->options[n].help != nullptr; n++) {
        const ToolOption& o = command->options[n];
        if (letter != 0 ? o.letter == letter
                        : o.name != nullptr && strlen(o.name) == length &&
                              memcmp(o.name, name, length) == 0)
            return n;
    }
    return -1;
}

/* Set option n to value; a value given twice is noted, a flag given twice is harmless. */
static void Set(const ToolCommand* command, ToolArguments* args, int n, const char* value)
{
    if (command->options[n].takesValue && args->values[n] != nullptr && args->repeated < 0)
        args->repeated = n;
    args->values[n] = value;
}

/* "'-k'" or "'--key'", as the option is known. */
static std::string OptionName(const ToolOption& o)
{
    if (o.name != nullptr) return "'--" + std::string(o.name) + "'";
    return "'-" + std::string(1, o.letter) + "'";
}

/* A long option "--name" or "--name=value"; *next may be taken as its value. */
static bool ParseLong(const ToolCommand* command, const char* arg, char** next, int* used,
                      ToolArguments* args, std::string* problem)
{
    const char* name = arg + 2;
    const char* equals = strchr(name, '=');
    size_t length = equals != nullptr ? (size_t)(equals - name) : strlen(name);
    int n = FindOption(command, 0, name, length);
    if (n < 0) return *problem = "unknown option " + Quoted(arg, length + 2), false;
    const ToolOption& o = command->options[n];
    if (!o.takesValue && equals != nullptr)
        return *problem = "option " + OptionName(o) + " takes no value", false;
    if (o.takesValue && equals == nullptr && next == nullptr)
        return *problem = "option " + OptionName(o) + " needs a value", false;
    const char* value = !o.takesValue ? "" : equals != nullptr ? equals + 1 : *next;
    if (o.takesValue && equals == nullptr) *used = 1;
    Set(command, args, n, value);
    return true;
}

/* Bundled letters "-abc", the last of them perhaps with a value. */
static bool ParseShort(const ToolCommand* command, const char* arg, char** next, int* used,
                       ToolArguments* args, std::string* problem)
{
    for (const char* p = arg + 1; *p != 0; p++) {
        int n = FindOption(command, *p, nullptr, 0);
        if (n < 0) return *problem = "unknown option '-" + std::string(1, *p) + "'", false;
        if (!command->options[n].takesValue) {
            Set(command, args, n, "");
            continue;
        }
        if (p[1] == 0 && next == nullptr)
            return *problem = "option '-" + std::string(1, *p) + "' needs a value", false;
        if (p[1] == 0) *used = 1;
        Set(command, args, n, p[1] != 0 ? p + 1 : *next);
        return true;
    }
    return true;
}

bool ToolParse(const ToolCommand* command, int argc, char** argv, ToolArguments* args,
               std::string* problem)
{
    size_t rows = 0;
    while (command->options != nullptr && command->options[rows].help != nullptr) rows++;
    args->help = false;
    args->operands.clear();
    args->values.assign(rows, nullptr);
    args->repeated = -1;
    bool optionsEnd = false;
    for (int i = 0; i < argc; i++) {
        const char* arg = argv[i];
        char** next = i + 1 < argc ? &argv[i + 1] : nullptr;
        int used = 0;
        bool isOption = !optionsEnd && arg[0] == '-' && arg[1] != 0;
        if (isOption && strcmp(arg, "--") == 0) {
            optionsEnd = true;
        } else if (isOption && strcmp(arg, "--help") == 0) {
            args->help = true;
        } else if (!isOption || command->dashOperands) {
            args->operands.push_back(arg);
        } else if (arg[1] == '-' ? !ParseLong(command, arg, next, &used, args, problem)
                                 : !ParseShort(command, arg, next, &used, args, problem)) {
            return false;
        }
        i += used;
    }
    if (args->help) return true;
    if (args->repeated >= 0)
        return *problem = "option " + OptionName(command->options[args->repeated]) + " given twice",
               false;
    int count = (int)args->operands.size();
    bool tooMany = command->maxOperands >= 0 && count > command->maxOperands;
    if (count < command->minOperands || tooMany) {
        *problem = std::string("expects ") + command->operands + ", not " + std::to_string(count) +
                   (count == 1 ? " operand" : " operands");
        return false;
    }
    return true;
}

const char* ToolOptionValue(const ToolCommand* command, const ToolArguments* args, const char* name)
{
    size_t length = strlen(name);
    int n = length == 1 ? FindOption(command, name[0], nullptr, 0)
                        : FindOption(command, 0, name, length);
    return n >= 0 ? args->values[(size_t)n] : nullptr;
}

std::string ToolCommandHelp(const char* tool, const ToolCommand* command)
{
    std::string text = std::string("Usage: ") + tool;
    if (command->name != nullptr) text += std::string(" ") + command->name;
    if (command->options != nullptr && command->options[0].help != nullptr) text += " [OPTION]...";
    text += std::string(" ") + command->operands + "\n" + command->summary;
    if (command->options != nullptr && command->options[0].help != nullptr) text += "\n";
    for (int n = 0; command->options != nullptr && command->options[n].help != nullptr; n++)
        text += command->options[n].help;
    return text;
}
