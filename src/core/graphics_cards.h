#pragma once

#include "formats/sensor_snapshot.h"
#include "platform/registry.h"

#include <optional>
#include <string_view>
#include <vector>

namespace brivane {

// One card of the snapshot's `gpus` member from its accelerator entry, each figure kept only
// within its plausible range. A sleeping card is idle: its utilisation is 0, its other figures
// unread.
SensorSnapshot::GpuReading graphicsCard(const platform::RegistryEntry& accelerator,
                                        std::string_view ioClass);

// In the member's order: by PCI address, which names a card the same on every boot (card
// numbers follow probe order), then those without one in the registry's order.
void orderGraphicsCards(std::vector<SensorSnapshot::GpuReading>& cards);

} // namespace brivane
