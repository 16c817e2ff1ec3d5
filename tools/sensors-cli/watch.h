#pragma once

#include "sensors-common/cli_options.h"
#include "terminal.h"

#include <functional>
#include <string>
#include <string_view>

namespace brivane::cli {

// One frame's content: the document when the agent answered, else a one-line problem.
struct WatchAnswer {
    bool answered = false;
    std::string text;
};

// A document as shown: the view, or for one that does not decode, what is shown instead of it
// (nothing, or --json's object that says so).
struct RenderedView {
    std::string text;
    bool decoded = true;
};

// Asks the agent again for every frame; renders a document as the person's view.
using AskAgain = std::function<WatchAnswer()>;
using RenderView = std::function<RenderedView(const std::string& document)>;

// Repeats the request every interval until SIGINT, SIGTERM or SIGHUP, then returns 0. On a
// terminal that can redraw, each frame replaces the previous one in an alternate screen, line
// by line with no clearing in between (no flicker), and the terminal is restored on the way
// out. With raw, or on any other output, frames are appended: raw documents one per line. A
// document that does not decode is reported as `undecodable` says, in the frame or on stderr.
int runWatch(const CliOptions& options, const Terminal& terminal, const AskAgain& ask,
             const RenderView& render, const std::string& undecodable);

// The bytes that redraw a terminal of the given height with header and body: home, every line
// followed by erase-to-end-of-line, then erase-below. Lines beyond the height are dropped so
// the screen never scrolls.
std::string redrawSequence(std::string_view header, std::string_view body, int rows,
                           const Terminal& terminal);

} // namespace brivane::cli
