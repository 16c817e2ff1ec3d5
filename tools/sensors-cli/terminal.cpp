#include "terminal.h"

#include "backends/posix/system/shared_library.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <langinfo.h>
#include <unistd.h>

// terminfo's header defines macros named like ordinary words; it stays in this file.
#include <term.h>

namespace brivane::cli {
namespace {

// The terminfo library, opened only for an output that is a terminal: a pipe or a file, the
// common case of scripts, then costs no library's loading. By its runtime name.
struct Terminfo {
#define BRIVANE_TERMINFO_FUNCTIONS(X) X(setupterm) X(tigetstr) X(tigetnum) X(tiparm)
    BRIVANE_LIBRARY_TABLE(BRIVANE_TERMINFO_FUNCTIONS)
};

platform::posix::LibraryOnce<Terminfo> terminfoLibrary("libtinfo.so.6", "the CLI");

// A string capability, empty when absent or cancelled.
std::string stringCapability(const Terminfo& terminfo, const char* name) {
    const char* value = terminfo.tigetstr(const_cast<char*>(name));
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the library's mark of a cancelled capability
    return value && value != reinterpret_cast<const char*>(-1) ? value : "";
}

} // namespace

Terminal describeTerminal(int fd) {
    Terminal terminal;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the client runs no other thread meanwhile
    std::setlocale(LC_CTYPE, "");
    terminal.utf8 = std::strcmp(::nl_langinfo(CODESET), "UTF-8") == 0;
    terminal.isTerminal = ::isatty(fd) == 1;
    int error = 0;
    const Terminfo* terminfo = terminal.isTerminal ? terminfoLibrary.get() : nullptr;
    if (!terminfo || terminfo->setupterm(nullptr, fd, &error) != 0) {
        return terminal;
    }
    const auto capability = [&](const char* name) { return stringCapability(*terminfo, name); };
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
    if ((!noColor || !*noColor) && terminfo->tigetnum(const_cast<char*>("colors")) >= 8 &&
        !setForeground.empty()) {
        if (const char* red = terminfo->tiparm(setForeground.c_str(), 1)) {
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
