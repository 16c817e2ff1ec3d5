#pragma once

#include "support/child_process.h"
#include "support/temp_dir.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace brivane::testing {

// A private system-type bus open to every user (or a session-type one), with python3-dbusmock
// services on it; clients reach it through environmentEntry(). Destruction ends the services
// and the bus.
class MockSystemBus {
public:
    enum class Type { system, session };

    explicit MockSystemBus(Type type = Type::system);
    ~MockSystemBus();
    MockSystemBus(const MockSystemBus&) = delete;
    MockSystemBus& operator=(const MockSystemBus&) = delete;

    // Empty when dbus-daemon and python3-dbusmock are installed, else what is missing.
    static std::string unavailableReason();

    const std::string& address() const { return address_; }
    // SIGSTOP freezes the bus daemon mid-life, SIGCONT wakes it.
    void signalDaemon(int signal) { daemon_->kill(signal); }
    std::string environmentEntry() const {
        return (type_ == Type::system ? "DBUS_SYSTEM_BUS_ADDRESS=" : "DBUS_SESSION_BUS_ADDRESS=") +
               address_;
    }

    // Runs a dbusmock template (name or .py file) with JSON parameters until it answers as busName.
    bool startService(const std::string& dbusmockTemplate, const std::string& busName,
                      const std::string& parameters = "{}",
                      std::chrono::milliseconds limit = std::chrono::seconds(10));
    // The method calls the index-th service received, one line each, as dbusmock logs them.
    std::string callLog(std::size_t index) const;

private:
    bool answers(const std::string& busName);

    std::string busOption() const { return type_ == Type::system ? "--system" : "--session"; }

    Type type_;
    TempDir directory_{"brivane-bus"};
    std::string address_;
    std::unique_ptr<ChildProcess> daemon_;
    std::vector<std::unique_ptr<ChildProcess>> services_;
};

} // namespace brivane::testing
