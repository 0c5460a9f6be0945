#include "command_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

namespace {

constexpr char ProgramName[] = "brisko-calculator";

// The options Qt 6 itself takes from the command line of a widget program, with one dash or two.
// Those marked xcb are read by the X11 platform only; the others by every platform.
struct ToolkitOption {
    const char *name;
    const char *value;  // none: a switch
    bool joinedValue;   // the value may also follow an "=": -style=fusion
    const char *help;
};
constexpr ToolkitOption ToolkitOptions[] = {
    {"platform", "NAME[:OPTIONS]", false, "platform plugin: xcb, wayland, offscreen..."},
    {"platformpluginpath", "FOLDER", false, "another folder to look for platform plugins in"},
    {"platformtheme", "NAME", false, "platform theme"},
    {"plugin", "NAME", false, "also load the input plugin NAME"},
    {"display", "DISPLAY", false, "X display to open (xcb)"},
    {"name", "NAME", false, "instance name in the window's WM_CLASS (xcb)"},
    {"visual", "ID", false, "X visual to draw with (xcb)"},
    {"style", "STYLE", true, "widget style: Fusion, Windows..."},
    {"stylesheet", "FILE", true, "style sheet for every widget"},
    {"reverse", nullptr, false, "lay the window out from right to left"},
    {"qwindowgeometry", "+X+Y", false, "window position"},
    {"geometry", "+X+Y", false, "window position (xcb)"},
    {"qwindowtitle", "TITLE", false, "window title"},
    {"title", "TITLE", false, "window title (xcb)"},
    {"qwindowicon", "FILE", false, "window icon"},
    {"icon", "FILE", false, "window icon (xcb)"},
    {"session", "ID", false, "session to restore"},
    {"nograb", nullptr, false, "never grab the mouse or keyboard (xcb)"},
    {"dograb", nullptr, false, "grab even while a debugger runs (xcb)"},
    {"widgetcount", nullptr, false, "print how many widgets were left at the end"},
    {"testability", nullptr, false, "load Qt's testability plugin"},
};

void PrintUsage()
{
    std::printf("Usage: %s [OPTION]...\n"
                "Opens the Brisko Calculator window: DP lost, rank and percentage of a play, and\n"
                "your scores, kept in Scores.txt in the current directory.\n"
                "\n"
                "  -h, --help                  show this help and exit\n"
                "      --version               show the version and exit\n"
                "\n"
                "Options of the Qt toolkit, also with two dashes:\n",
                ProgramName);
    for (const ToolkitOption &option : ToolkitOptions) {
        const std::string usage = std::string("-") + option.name + (option.value ? std::string(" ") + option.value : "");
        std::printf("  %-26s  %s\n", usage.c_str(), option.help);
    }
}

// Help or version that never reached its reader (a full disk, a closed pipe) is no success.
int Written()
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return 0;
    std::fprintf(stderr, "%s: cannot write to the standard output: %s\n", ProgramName, std::strerror(errno));
    return 1;
}

int UsageError(const char *what, const char *argument)
{
    std::fprintf(stderr, "%s: %s '%s'\nTry '%s --help' for more information.\n", ProgramName, what, argument,
                 ProgramName);
    return 2;
}

// Qt reads "--style" as "-style".
const char *SingleDash(const char *argument)
{
    return std::strncmp(argument, "--", 2) == 0 ? argument + 1 : argument;
}

const ToolkitOption *FindToolkitOption(const char *argument, bool &valueJoined)
{
    const char *name = SingleDash(argument) + 1;
    const char *equals = std::strchr(name, '=');
    const size_t length = equals != nullptr ? size_t(equals - name) : std::strlen(name);
    const auto *option = std::find_if(std::begin(ToolkitOptions), std::end(ToolkitOptions), [&](const ToolkitOption &known) {
        return std::strlen(known.name) == length && std::strncmp(known.name, name, length) == 0;
    });
    valueJoined = equals != nullptr;
    if (option == std::end(ToolkitOptions) || (valueJoined && !option->joinedValue))
        return nullptr;
    return option;
}

}  // namespace

std::optional<int> CheckCommandLine(int argc, const char *const argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--") == 0)  // the options end; the program takes no other argument
            return i + 1 < argc ? std::optional<int>(UsageError("unexpected argument", argv[i + 1])) : std::nullopt;
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            PrintUsage();
            return Written();
        }
        if (std::strcmp(argument, "--version") == 0) {
            std::printf("%s %s\n", ProgramName, BRISKO_VERSION);
            return Written();
        }
        if (argument[0] != '-' || argument[1] == '\0')
            return UsageError("unexpected argument", argument);
        bool valueJoined = false;
        const ToolkitOption *option = FindToolkitOption(argument, valueJoined);
        if (option == nullptr)
            return UsageError("unknown option", argument);
        if (option->value != nullptr && !valueJoined && ++i == argc)
            return UsageError("a value is missing after", argument);
    }
    return std::nullopt;
}
