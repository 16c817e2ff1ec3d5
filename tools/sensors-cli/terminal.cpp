#include "terminal.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <langinfo.h>
#include <unistd.h>

// terminfo's header defines macros named like ordinary words; it stays in this file.
#include <term.h>

namespace brivane::cli {
namespace {

// A string capability, empty when absent or cancelled.
std::string capability(const char* name) {
    const char* value = ::tigetstr(const_cast<char*>(name));
    return value && value != reinterpret_cast<const char*>(-1) ? value : "";
}

} // namespace

Terminal describeTerminal(int fd) {
    Terminal terminal;
    std::setlocale(LC_CTYPE, "");
    terminal.utf8 = std::strcmp(::nl_langinfo(CODESET), "UTF-8") == 0;
    terminal.isTerminal = ::isatty(fd) == 1;
    int error = 0;
    if (!terminal.isTerminal || ::setupterm(nullptr, fd, &error) != 0) {
        return terminal;
    }
    terminal.enterScreen = capability("smcup");
    terminal.leaveScreen = capability("rmcup");
    terminal.hideCursor = capability("civis");
    terminal.showCursor = capability("cnorm");
    terminal.noWrap = capability("rmam");
    terminal.wrap = capability("smam");
    terminal.home = capability("home");
    terminal.clearLine = capability("el");
    terminal.clearBelow = capability("ed");
    const char* noColor = std::getenv("NO_COLOR");
    const std::string setForeground = capability("setaf");
    if ((!noColor || !*noColor) && ::tigetnum(const_cast<char*>("colors")) >= 8 &&
        !setForeground.empty()) {
        if (const char* red = ::tiparm(setForeground.c_str(), 1)) {
            terminal.hotOn = red;
            terminal.hotOff = capability("sgr0");
        }
    }
    if (terminal.hotOff.empty()) {
        terminal.hotOn.clear();
    }
    return terminal;
}

} // namespace brivane::cli
