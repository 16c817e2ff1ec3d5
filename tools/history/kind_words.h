#pragma once

// The word for a reading's kind, in the two places it is written down: the history database
// stores one (recordedReadings), users' alert rules name the other (alertReadings). A hardware
// input's word is its type in both; the other figures have a word of their own.

#include "sensors-common/snapshot_walk.h"

#include <string_view>

namespace brivane::cli {

enum class KindWords {
    stored, // in history databases
    ruled,  // in alert rule files
};

// The series' type when it has one, else its figure's word of the column.
std::string_view kindWord(const Series& series, KindWords column);

} // namespace brivane::cli
