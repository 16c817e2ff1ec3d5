#include "platform/io_return.h"

namespace brivane::platform {

const char* machErrorString(KernReturn code) {
    switch (code) {
    case kIOReturnSuccess:
        return "(os/kern) successful";
    case kIOReturnError:
        return "(iokit/common) general error";
    case kIOReturnBadArgument:
        return "(iokit/common) invalid argument";
    case kIOReturnNotFound:
        return "(iokit/common) data was not found";
    case kMachSendInvalidDest:
        return "(ipc/send) invalid destination port";
    default:
        return "unknown error";
    }
}

} // namespace brivane::platform
