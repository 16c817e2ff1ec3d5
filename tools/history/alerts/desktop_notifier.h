#pragma once

// Desktop notifications: org.freedesktop.Notifications on the user's session bus. A desktop
// without a notification server is normal (a server, a session over ssh): the alert then goes
// to the journal alone.

#include "alert_message.h"
#include "alert_rules.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace brivane::cli {

struct Notification {
    AlertMessage message;
    AlertSeverity severity = AlertSeverity::warning;
    bool recovery = false;
    std::uint32_t replaces = 0; // the notification this one updates in place, 0 for none
};

class Notifier {
public:
    virtual ~Notifier() = default;
    // The server's id of the notification shown; nothing when none could be, and then
    // problem() says why.
    virtual std::optional<std::uint32_t> notify(const Notification& notification) = 0;
    virtual std::string problem() const = 0;
};

// The session bus of DBUS_SESSION_BUS_ADDRESS (else $XDG_RUNTIME_DIR/bus), connected on the
// first notification and again after it fails; each call waits at most callLimit.
std::unique_ptr<Notifier>
makeDesktopNotifier(std::chrono::milliseconds callLimit = std::chrono::milliseconds(2000));

} // namespace brivane::cli
