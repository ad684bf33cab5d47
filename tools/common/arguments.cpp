#include "arguments.h"

#include <string.h>

static std::string Quoted(const std::string& text)
{
    return "'" + text + "'";
}

static const ToolOption* FindOption(const ToolCommand* command, char letter, const char* name,
                                    size_t length)
{
    for (const ToolOption* o = command->options; o != nullptr && o->take != nullptr; o++)
        if (letter != 0 ? o->letter == letter
                        : o->name != nullptr && strlen(o->name) == length &&
                              memcmp(o->name, name, length) == 0)
            return o;
    return nullptr;
}

bool ToolTakeOnce(const char** slot, const char* typed, const char* value, std::string* problem)
{
    if (*slot != nullptr) return *problem = "option " + Quoted(typed) + " given twice", false;
    *slot = value;
    return true;
}

/* A long option "--name" or "--name=value"; *next may be taken as its value. */
static bool ParseLong(const ToolCommand* command, const char* arg, char** next, int* used,
                      void* options, std::string* problem)
{
    const char* name = arg + 2;
    const char* equals = strchr(name, '=');
    size_t length = equals != nullptr ? (size_t)(equals - name) : strlen(name);
    std::string typed(arg, length + 2);
    const ToolOption* o = FindOption(command, 0, name, length);
    if (o == nullptr) return *problem = "unknown option " + Quoted(typed), false;
    if (o->value == kToolNoValue && equals != nullptr)
        return *problem = "option " + Quoted(typed) + " takes no value", false;
    if (o->value == kToolValue && equals == nullptr && next == nullptr)
        return *problem = "option " + Quoted(typed) + " needs a value", false;
    const char* value = equals != nullptr ? equals + 1 : nullptr;
    if (o->value == kToolValue && equals == nullptr) value = *next, *used = 1;
    return o->take(options, typed.c_str(), value, problem);
}

/* Bundled letters "-abc", the last of them perhaps with a value. */
static bool ParseShort(const ToolCommand* command, const char* arg, char** next, int* used,
                       void* options, std::string* problem)
{
    for (const char* p = arg + 1; *p != 0; p++) {
        const std::string typed = std::string("-") + *p;
        const ToolOption* o = FindOption(command, *p, nullptr, 0);
        if (o == nullptr) return *problem = "unknown option " + Quoted(typed), false;
        if (o->value != kToolValue) {
            if (!o->take(options, typed.c_str(), nullptr, problem)) return false;
            continue;
        }
        if (p[1] == 0 && next == nullptr)
            return *problem = "option " + Quoted(typed) + " needs a value", false;
        if (p[1] == 0) *used = 1;
        return o->take(options, typed.c_str(), p[1] != 0 ? p + 1 : *next, problem);
    }
    return true;
}

static bool IsHelp(const ToolCommand* command, const char* arg)
{
    return strcmp(arg, "--help") == 0 ||
           (strcmp(arg, "-h") == 0 && FindOption(command, 'h', nullptr, 0) == nullptr);
}

bool ToolParse(const ToolCommand* command, int argc, char** argv, void* options,
               ToolArguments* args, std::string* problem)
{
    args->help = false;
    args->operands.clear();
    bool optionsEnd = false;
    for (int i = 0; i < argc; i++) {
        const char* arg = argv[i];
        char** next = i + 1 < argc ? &argv[i + 1] : nullptr;
        int used = 0;
        bool isOption = !optionsEnd && arg[0] == '-' && arg[1] != 0;
        if (isOption && strcmp(arg, "--") == 0) {
            optionsEnd = true;
        } else if (isOption && IsHelp(command, arg)) {
            args->help = true;
        } else if (!isOption || command->dashOperands) {
            args->operands.push_back(arg);
        } else if (arg[1] == '-' ? !ParseLong(command, arg, next, &used, options, problem)
                                 : !ParseShort(command, arg, next, &used, options, problem)) {
            return false;
        }
        i += used;
    }
    if (args->help) return true;
    int count = (int)args->operands.size();
    bool tooMany = command->maxOperands >= 0 && count > command->maxOperands;
    if (count < command->minOperands || tooMany) {
        *problem = std::string("expects ") + command->operands;
        if (tooMany && command->maxOperands > command->minOperands)
            *problem += " (at most " + std::to_string(command->maxOperands) + " operands)";
        *problem += ", not " + std::to_string(count) + (count == 1 ? " operand" : " operands");
        return false;
    }
    return true;
}

std::string ToolCommandHelp(const char* tool, const ToolCommand* command)
{
    bool options = command->options != nullptr && command->options[0].take != nullptr;
    std::string text = std::string("Usage: ") + tool;
    if (command->name != nullptr) text += std::string(" ") + command->name;
    if (options) text += " [OPTION]...";
    text += std::string(" ") + command->operands + "\n" + command->summary + "\n";
    for (const ToolOption* o = command->options; options && o->take != nullptr; o++)
        text += o->help;
    text += "  -h, --help         show this help\n";
    return text;
}
