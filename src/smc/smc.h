#pragma once

#include "platform/smc_key_data.h"
#include "platform/smc_transport.h"
#include "smc/smc_output.h"
#include "smc/smc_val.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brivane {

// A connection to the system management controller. Construction opens it (a failure is
// printed and leaves the object unopened, so every read fails); destruction closes it. On a
// machine the platform knows to have no SMC, one line says so and reads fail silently.
// Reads are safe from any thread.
class SMC {
public:
    // Opens the platform's SMC, reporting to standard output with repeats limited.
    SMC();
    // Opens the SMC behind `transport`, reporting failures to `sink`.
    explicit SMC(std::shared_ptr<platform::SMCTransport> transport,
                 SMCLineSink sink = standardOutputLineSink());
    virtual ~SMC();

    SMC(const SMC&) = delete;
    SMC& operator=(const SMC&) = delete;

    // Empties the key-information cache and closes the connection; the platform's code.
    virtual platform::KernReturn close();

    // The value of `key` decoded by its type; absent for an unknown key, a failed read, an
    // empty value, a type that is not a number, or (unless `allowZero`) an all-zero value of a
    // key whose zero is not a reading.
    virtual std::optional<double> getValue(std::string_view key, bool allowZero = false);
    // The name in the fan descriptor `key` (type "{fds"), possibly empty.
    virtual std::optional<std::string> getStringValue(std::string_view key);
    // Every key name in the SMC's index order; empty when the key count cannot be read.
    virtual std::vector<std::string> getAllKeys();

    // The process-wide connection, opened on first use with the platform's SMC.
    static SMC& shared();

private:
    platform::KernReturn read(SMCVal_t& value);
    // Steps shared by the typed reads: read, report, and reject empty values.
    bool readReported(SMCVal_t& value);
    void open();
    std::string errorText(platform::KernReturn code) const;
    void print(std::initializer_list<std::string_view> pieces) const noexcept;

    std::uint32_t conn = 0;
    bool absent_ = false; // the platform says there is no SMC: nothing to report per read
    std::mutex keyInfoLock;
    std::unordered_map<std::uint32_t, platform::keyInfo_t> keyInfoCache;
    std::shared_ptr<platform::SMCTransport> transport_;
    SMCLineSink sink_;
};

} // namespace brivane
