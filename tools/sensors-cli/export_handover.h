#pragma once

namespace brivane::cli {

// Replaces this process with brivane-sensors-export beside the running executable, with the
// same arguments; returns only when that fails (after saying why), with status 1.
int handOverToExporter(char** argv);

} // namespace brivane::cli
