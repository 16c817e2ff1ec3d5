#include "scrape_families.h"

#include "disk_metrics.h"
#include "machine_collection.h"

#include <iterator>

namespace brivane::cli {

std::vector<MetricFamily> scrapeFamilies(const FetchedSnapshot& fetched, double scrapeSeconds) {
    auto families = metricFamilies(fetched.snapshot ? &*fetched.snapshot : nullptr, scrapeSeconds,
                                   fetched.busiest, fetched.loaderAltered());
    if (fetched.machineElsewhere) {
        keepOwnFamilies(families);
    } else if (fetched.snapshot && fetched.disks) {
        auto disks = diskFamilies(*fetched.disks);
        families.insert(families.end(), std::make_move_iterator(disks.begin()),
                        std::make_move_iterator(disks.end()));
    }
    return families;
}

} // namespace brivane::cli
