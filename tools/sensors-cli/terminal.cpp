#include "terminal.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <langinfo.h>
#include <optional>
#include <unistd.h>

// terminfo's header defines macros named like ordinary words; it stays in this file.
#include <term.h>

namespace brivane::cli {
namespace {

// The terminfo library, opened only for an output that is a terminal: a pipe or a file, the
// common case of scripts, then costs no library's loading. By its runtime name.
struct Terminfo {
    decltype(&::setupterm) setupterm = nullptr;
    decltype(&::tigetstr) tigetstr = nullptr;
    decltype(&::tigetnum) tigetnum = nullptr;
    decltype(&::tiparm) tiparm = nullptr;
};

std::optional<Terminfo> openTerminfo() {
    void* handle = ::dlopen("libtinfo.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        return std::nullopt;
    }
    Terminfo library;
    library.setupterm = reinterpret_cast<decltype(&::setupterm)>(::dlsym(handle, "setupterm"));
    library.tigetstr = reinterpret_cast<decltype(&::tigetstr)>(::dlsym(handle, "tigetstr"));
    library.tigetnum = reinterpret_cast<decltype(&::tigetnum)>(::dlsym(handle, "tigetnum"));
    library.tiparm = reinterpret_cast<decltype(&::tiparm)>(::dlsym(handle, "tiparm"));
    if (!library.setupterm || !library.tigetstr || !library.tigetnum || !library.tiparm) {
        return std::nullopt;
    }
    return library;
}

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
    const auto terminfo = terminal.isTerminal ? openTerminfo() : std::nullopt;
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
