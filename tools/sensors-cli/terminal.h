#pragma once

// What the output can show: the terminal's own control sequences (from terminfo) when it is a
// terminal that has them, plain text otherwise; "°C" only in a UTF-8 locale; colour only on a
// terminal with colours and without NO_COLOR.

#include <string>

namespace brivane::cli {

struct Terminal {
    bool isTerminal = false; // the output is a terminal
    bool utf8 = false;       // the locale's character set is UTF-8
    // Control sequences; each empty when the terminal lacks it.
    std::string enterScreen, leaveScreen; // alternate screen
    std::string hideCursor, showCursor;
    std::string noWrap, wrap; // automatic margins off and on
    std::string home, clearLine, clearBelow;
    std::string hotOn, hotOff; // colour for marked rows: hot, alarm, fault

    // Whether frames can be drawn over each other in place.
    bool canRedraw() const {
        return isTerminal && !home.empty() && !clearLine.empty() && !clearBelow.empty();
    }
};

// The terminal behind descriptor fd, per TERM, NO_COLOR and the locale (LC_ALL, LC_CTYPE, LANG).
Terminal describeTerminal(int fd);

} // namespace brivane::cli
