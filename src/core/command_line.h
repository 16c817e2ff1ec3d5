#pragma once

#include "core/companion_registration.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace brivane {

// What the dispatch reaches outside itself; tests substitute every piece.
struct CommandLineEnvironment {
    std::function<CompanionRegistration()> makeRegistration;
    std::function<int()> runAgent;
    std::ostream& out;
    std::ostream& err;
};

// The executable's dispatch on its full argument vector (program path first). The argument
// list without the program path must equal one of the recognised forms exactly. Returns the
// exit status.
int runCommandLine(const std::vector<std::string>& argumentVector,
                   const CommandLineEnvironment& environment);

// The same with the platform's registration, agent role and standard streams.
int runCommandLine(const std::vector<std::string>& argumentVector);

} // namespace brivane
