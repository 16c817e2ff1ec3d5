#pragma once

namespace brivane::cli {

// Replaces this process with `executable` beside the running executable, with the same
// arguments; returns only when that fails (after saying why), with status 1.
int handOverTo(const char* executable, char** argv);

// brivane-sensors-export, which serves `export`.
inline int handOverToExporter(char** argv) {
    return handOverTo("brivane-sensors-export", argv);
}

// brivane-sensors-record, which serves `record`, `history` and `alerts`.
inline int handOverToRecorder(char** argv) {
    return handOverTo("brivane-sensors-record", argv);
}

} // namespace brivane::cli
