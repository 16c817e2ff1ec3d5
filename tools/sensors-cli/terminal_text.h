#pragma once

// Text from outside this process (documents, process names, sensor labels, the reasons an error
// quotes) as it may reach a terminal. A control character there could retitle the window, clear
// the screen or split a table row, and a bidirectional override reorder what follows it; any
// process may name itself so, and an agent at --endpoint may send anything.

#include <optional>
#include <string>
#include <string_view>

namespace brivane::cli {

// Control characters (C0, DEL, C1) and the bidirectional embeddings, overrides and isolates
// (U+202A..U+202E, U+2066..U+2069) shown as escapes, "\x1b" and "\u202e"; each byte of
// ill-formed UTF-8 as "\xff". Everything else is unchanged.
std::string terminalSafe(std::string_view text);

// A JSON text as it may be printed: DEL, C1 and the bidirectional controls written as JSON
// escapes, which keeps the document's meaning. nullopt when it holds a control character JSON
// allows nowhere (any C0 but the blanks between tokens) or ill-formed UTF-8: no JSON document
// does.
std::optional<std::string> terminalSafeJson(std::string_view document);

// "brivane-sensors: <line>" on standard error, made safe.
void printProblem(std::string_view line);

} // namespace brivane::cli
