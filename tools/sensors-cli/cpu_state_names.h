#pragma once

#include "platform/ioreport_source.h"

#include <map>
#include <string>
#include <vector>

namespace brivane::cli {

// The active performance states' names of each cluster kind ("ECPU", "MCPU", "PCPU"), as the
// CPU details count them: the first channel of each kind, its states in order without "IDLE",
// "DOWN" and "OFF".
std::map<std::string, std::vector<std::string>>
activeStateNames(const platform::IOReportChannelList& channels);

// Those of this machine's CPU state channels, as the real machine's back end finds them
// (cpu_state_discovery.h); empty where it has none.
std::map<std::string, std::vector<std::string>> localStateNames();

} // namespace brivane::cli
