#include "backends/sim/canned_outputs.h"

#include <string>

namespace brivane::platform::sim {

// An internal NVMe drive as the disk utility describes it, SMART dictionary included.
std::string cannedDiskutilOutput(std::string_view device) {
    std::string output = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                         "<plist version=\"1.0\">\n"
                         "<dict>\n"
                         "\t<key>BusProtocol</key>\n\t<string>Apple Fabric</string>\n"
                         "\t<key>DeviceIdentifier</key>\n\t<string>";
    output += device;
    output += "</string>\n"
              "\t<key>DeviceNode</key>\n\t<string>/dev/";
    output += device;
    output += "</string>\n"
              "\t<key>Internal</key>\n\t<true/>\n"
              "\t<key>MediaName</key>\n\t<string>APPLE SSD AP0512Z</string>\n"
              "\t<key>SMARTStatus</key>\n\t<string>Verified</string>\n"
              "\t<key>SMARTDeviceSpecificKeysMayVaryNotGuaranteed</key>\n"
              "\t<dict>\n"
              "\t\t<key>AVAILABLE_SPARE</key>\n\t\t<integer>100</integer>\n"
              "\t\t<key>AVAILABLE_SPARE_THRESHOLD</key>\n\t\t<integer>99</integer>\n"
              "\t\t<key>CONTROLLER_BUSY_TIME_0</key>\n\t\t<integer>1893</integer>\n"
              "\t\t<key>CONTROLLER_BUSY_TIME_1</key>\n\t\t<integer>0</integer>\n"
              "\t\t<key>DATA_UNITS_READ_0</key>\n\t\t<integer>48213377</integer>\n"
              "\t\t<key>DATA_UNITS_READ_1</key>\n\t\t<integer>0</integer>\n"
              "\t\t<key>DATA_UNITS_WRITTEN_0</key>\n\t\t<integer>39164720</integer>\n"
              "\t\t<key>DATA_UNITS_WRITTEN_1</key>\n\t\t<integer>0</integer>\n"
              "\t\t<key>MEDIA_ERRORS_0</key>\n\t\t<integer>0</integer>\n"
              "\t\t<key>MEDIA_ERRORS_1</key>\n\t\t<integer>0</integer>\n"
              "\t\t<key>PERCENTAGE_USED</key>\n\t\t<integer>3</integer>\n"
              "\t\t<key>POWER_CYCLES_0</key>\n\t\t<integer>412</integer>\n"
              "\t\t<key>POWER_CYCLES_1</key>\n\t\t<integer>0</integer>\n"
              "\t\t<key>POWER_ON_HOURS_0</key>\n\t\t<integer>2871</integer>\n"
              "\t\t<key>POWER_ON_HOURS_1</key>\n\t\t<integer>0</integer>\n"
              "\t\t<key>TEMPERATURE</key>\n\t\t<integer>309</integer>\n"
              "\t\t<key>UNSAFE_SHUTDOWNS_0</key>\n\t\t<integer>17</integer>\n"
              "\t\t<key>UNSAFE_SHUTDOWNS_1</key>\n\t\t<integer>0</integer>\n"
              "\t</dict>\n"
              "\t<key>Size</key>\n\t<integer>500277792768</integer>\n"
              "\t<key>SolidState</key>\n\t<true/>\n"
              "</dict>\n"
              "</plist>\n";
    return output;
}

} // namespace brivane::platform::sim
