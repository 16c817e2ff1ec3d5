// The client's calls through the platform's default endpoints, apart so that a client that
// brings its own endpoints links none of the default back ends.
#include "ipc/sensor_client.h"

namespace brivane::ipc {

std::unique_ptr<SensorClient> SensorClient::connect(const std::string& path, std::string& problem,
                                                    int timeoutMs) {
    return connect(*platform::makeDefaultEndpoints(), path, problem, timeoutMs);
}

std::optional<std::string> endpointPathForService(std::string_view serviceName,
                                                  std::string& problem) {
    return endpointPathForService(*platform::makeDefaultEndpoints(), serviceName, problem);
}

} // namespace brivane::ipc
