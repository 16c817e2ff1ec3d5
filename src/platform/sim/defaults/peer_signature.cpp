#include "platform/linux/peer_signature_linux.h"

namespace brivane::platform {

// Clients are real processes on this machine, checked against the build's own anchors.
std::shared_ptr<PeerSignatureSource> makeDefaultPeerSignatureSource() {
    return std::make_shared<linux_backend::LinuxPeerSignatureSource>(
        std::make_shared<const linux_backend::CmsVerifier>());
}

} // namespace brivane::platform
