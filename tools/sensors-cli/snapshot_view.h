#pragma once

#include "document_view.h"
#include "formats/sensor_snapshot.h"

namespace brivane::cli {

// The snapshot's tables: temperatures, fans, power, battery, graphics and accessories, then a
// section per kind of input only the `sensors` member carries, each reading from the one walk
// over the snapshot (sensors-common/snapshot_walk.h).
DocumentView snapshotView(const SensorSnapshot& snapshot, const ViewOptions& view);

} // namespace brivane::cli
