#include "scrape_families.h"

#include "cpu_metrics.h"
#include "disk_metrics.h"
#include "machine_collection.h"

#include <iterator>

namespace brivane::cli {

std::vector<MetricFamily> scrapeFamilies(const FetchedSnapshot& fetched, double scrapeSeconds) {
    auto families = metricFamilies(fetched.snapshot ? &*fetched.snapshot : nullptr, scrapeSeconds,
                                   fetched.busiest, fetched.loaderAltered());
    if (fetched.machineElsewhere) {
        keepOwnFamilies(families);
    } else if (fetched.snapshot) {
        for (auto more :
             {fetched.disks ? diskFamilies(*fetched.disks) : std::vector<MetricFamily>{},
              fetched.cpu ? cpuCounterFamilies(*fetched.cpu) : std::vector<MetricFamily>{}}) {
            families.insert(families.end(), std::make_move_iterator(more.begin()),
                            std::make_move_iterator(more.end()));
        }
    }
    return families;
}

} // namespace brivane::cli
