#pragma once

#include "disk_health.h"
#include "metrics_text.h"

#include <vector>

namespace brivane::cli {

// The brivane_disk_* families of the disks' figures, each series labelled by the disk's kernel
// name, model and serial number (the latter two where known); families without samples are
// left out.
std::vector<MetricFamily> diskFamilies(const DiskHealthList& disks);

} // namespace brivane::cli
