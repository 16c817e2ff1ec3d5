#include "desktop_notifier.h"

#include <exception>
#include <map>
#include <sdbus-c++/sdbus-c++.h>
#include <vector>

namespace brivane::cli {
namespace {

const std::string service = "org.freedesktop.Notifications";
const std::string objectPath = "/org/freedesktop/Notifications";
const std::string interface = "org.freedesktop.Notifications";
const std::string applicationName = "Brivane Sensor Companion";

std::string iconOf(const Notification& notification) {
    if (notification.recovery) {
        return "dialog-information";
    }
    switch (notification.severity) {
    case AlertSeverity::info:
        return "dialog-information";
    case AlertSeverity::warning:
        return "dialog-warning";
    case AlertSeverity::critical:
        return "dialog-error";
    }
    return "dialog-warning";
}

class DesktopNotifier final : public Notifier {
public:
    explicit DesktopNotifier(std::chrono::milliseconds callLimit) : callLimit_(callLimit) {}

    std::optional<std::uint32_t> notify(const Notification& notification) override {
        try {
            if (!proxy_) {
                connect();
            }
            const AlertMessage text = notificationText(notification.message, bodyMarkup_);
            // Urgency 0 low, 1 normal, 2 critical: a server keeps a critical one until it is
            // dismissed.
            const auto urgency = static_cast<std::uint8_t>(
                notification.recovery ? 0 : static_cast<int>(notification.severity));
            std::map<std::string, sdbus::Variant> hints;
            hints.emplace("urgency", sdbus::Variant(urgency));
            const bool error =
                !notification.recovery && notification.severity != AlertSeverity::info;
            hints.emplace("category",
                          sdbus::Variant(std::string(error ? "device.error" : "device")));
            std::uint32_t id = 0;
            proxy_->callMethod("Notify")
                .onInterface(interface)
                .withTimeout(callLimit_)
                .withArguments(applicationName, notification.replaces, iconOf(notification),
                               text.title, text.body, std::vector<std::string>{}, hints,
                               std::int32_t{-1})
                .storeResultsTo(id);
            problem_.clear();
            return id;
        } catch (const std::exception& error) {
            // The next notification connects afresh: the bus or the server may have restarted.
            problem_ = std::string("no desktop notification: ") + error.what();
            proxy_.reset();
            connection_.reset();
            return std::nullopt;
        }
    }

    std::string problem() const override { return problem_; }

private:
    void connect() {
        connection_ = sdbus::createSessionBusConnection();
        proxy_ = sdbus::createProxy(*connection_, service, objectPath);
        bodyMarkup_ = true; // unless the server says otherwise: escaping is then harmless
        try {
            std::vector<std::string> capabilities;
            proxy_->callMethod("GetCapabilities")
                .onInterface(interface)
                .withTimeout(callLimit_)
                .storeResultsTo(capabilities);
            bodyMarkup_ = false;
            for (const auto& capability : capabilities) {
                bodyMarkup_ = bodyMarkup_ || capability == "body-markup";
            }
        } catch (const sdbus::Error&) {
        }
    }

    std::chrono::milliseconds callLimit_;
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> proxy_;
    bool bodyMarkup_ = true;
    std::string problem_;
};

} // namespace

std::unique_ptr<Notifier> makeDesktopNotifier(std::chrono::milliseconds callLimit) {
    return std::make_unique<DesktopNotifier>(callLimit);
}

} // namespace brivane::cli
