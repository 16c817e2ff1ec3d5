#include "smc/smc.h"

#include "smc/four_char_code.h"
#include "smc/smc_value_decoding.h"

#include <cmath>
#include <limits>

namespace brivane {

using platform::KernReturn;
using platform::kIOReturnBadArgument;
using platform::kIOReturnError;
using platform::kIOReturnNotFound;
using platform::kIOReturnSuccess;

namespace {

constexpr std::uint32_t kSelector = rawValue(platform::SMCKeys::kernelIndex);

KernReturn mapResult(std::uint8_t result) {
    return result == platform::kSMCResultKeyNotFound ? kIOReturnNotFound : kIOReturnError;
}

bool isCacheable(const platform::keyInfo_t& info, std::size_t capacity) {
    return info.dataSize != 0 && info.dataSize <= capacity && info.dataType != 0;
}

} // namespace

SMC::SMC()
    : SMC(platform::makeDefaultSMCTransport(),
          repeatLimitedLineSink(standardOutputLineSink(), platform::makeDefaultUptimeClock())) {}

SMC::SMC(std::shared_ptr<platform::SMCTransport> transport, SMCLineSink sink)
    : transport_(transport ? std::move(transport) : platform::makeDefaultSMCTransport()),
      sink_(std::move(sink)) {
    open();
}

SMC::~SMC() {
    const KernReturn code = close();
    if (code != kIOReturnSuccess && !absent_) {
        print({"error close smc connection: ", errorText(code)});
    }
}

SMC& SMC::shared() {
    static SMC instance;
    return instance;
}

void SMC::open() {
    const platform::SMCOpenResult opened = transport_->open();
    if (!opened.failure) {
        conn = opened.connection;
        return;
    }
    switch (opened.failure->step) {
    case platform::SMCOpenStep::matchingServices:
        print({"Error IOServiceGetMatchingServices(): ", errorText(opened.failure->code)});
        break;
    case platform::SMCOpenStep::iteratorNext:
        print({"Error IOIteratorNext(): ", errorText(kIOReturnSuccess)});
        break;
    case platform::SMCOpenStep::serviceOpen:
        print({"Error IOServiceOpen(): ", errorText(opened.failure->code)});
        break;
    case platform::SMCOpenStep::absent:
        // A machine that has no SMC is no failure: one line, then silence on every read.
        absent_ = true;
        if (const auto note = transport_->absenceNote(); !note.empty()) {
            print({note});
        }
        break;
    }
}

KernReturn SMC::close() {
    const std::lock_guard lock(keyInfoLock);
    keyInfoCache = {};
    return transport_->close(conn);
}

KernReturn SMC::read(SMCVal_t& value) {
    if (!isFourCharName(value.key)) {
        return kIOReturnBadArgument;
    }
    const std::lock_guard lock(keyInfoLock);

    platform::SMCKeyData_t input;
    platform::SMCKeyData_t output;
    input.key = platform::fourCharCode(value.key);

    platform::keyInfo_t info;
    bool cacheable = true;
    if (const auto cached = keyInfoCache.find(input.key); cached != keyInfoCache.end()) {
        info = cached->second;
    } else {
        input.data8 = rawValue(platform::SMCKeys::readKeyInfo);
        const KernReturn code = transport_->call(conn, kSelector, platform::blockBytes(input),
                                                 platform::blockBytes(output));
        if (code != kIOReturnSuccess) {
            return code;
        }
        if (output.result != 0) {
            return mapResult(output.result);
        }
        info = output.keyInfo;
        cacheable = isCacheable(info, value.bytes.size());
    }

    value.dataSize = info.dataSize;
    value.dataType = fourCharCodeString(info.dataType);

    input.keyInfo.dataSize = info.dataSize;
    input.data8 = rawValue(platform::SMCKeys::readBytes);
    output = platform::SMCKeyData_t{};
    const KernReturn code = transport_->call(conn, kSelector, platform::blockBytes(input),
                                             platform::blockBytes(output));
    if (code != kIOReturnSuccess || output.result != 0 || !cacheable) {
        keyInfoCache.erase(input.key);
        if (code != kIOReturnSuccess) {
            return code;
        }
        if (output.result != 0) {
            return mapResult(output.result);
        }
    } else {
        keyInfoCache.insert_or_assign(input.key, info);
    }

    const std::size_t count = std::min<std::size_t>(info.dataSize, value.bytes.size());
    std::copy_n(output.bytes.begin(), count, value.bytes.begin());
    return kIOReturnSuccess;
}

bool SMC::readReported(SMCVal_t& value) {
    if (absent_) {
        return false;
    }
    const KernReturn code = read(value);
    if (code == kIOReturnNotFound) {
        return false;
    }
    if (code != kIOReturnSuccess) {
        print({"Error read(", value.key, "): ", errorText(code)});
        return false;
    }
    return value.dataSize != 0;
}

std::optional<double> SMC::getValue(std::string_view key, bool allowZero) {
    if (absent_) {
        return std::nullopt;
    }
    SMCVal_t value(key);
    if (!readReported(value)) {
        return std::nullopt;
    }
    if (!allowZero && allBytesZero(value.bytes) && !isZeroValueKey(key)) {
        return std::nullopt;
    }
    return decodeSMCValue(value.dataType, value.bytes);
}

std::optional<std::string> SMC::getStringValue(std::string_view key) {
    SMCVal_t value(key);
    if (!readReported(value) || allBytesZero(value.bytes)) {
        return std::nullopt;
    }
    if (value.dataType != "{fds") {
        print({"unsupported data type ", value.dataType, " for key: ", key});
        return std::nullopt;
    }
    return fanDescriptorName(value.bytes);
}

std::vector<std::string> SMC::getAllKeys() {
    const std::optional<double> count = getValue("#KEY");
    if (!count) {
        if (!absent_) {
            print({"ERROR no keys count found"});
        }
        return {};
    }
    // Only a "ui32" count is meaningful; anything else would index outside the 32-bit range.
    constexpr double kIndexLimit = 4294967296.0;
    if (!std::isfinite(*count) || *count < 0 || *count > kIndexLimit) {
        return {};
    }
    const auto n = static_cast<std::uint64_t>(*count);

    std::vector<std::string> keys;
    keys.reserve(std::min<std::uint64_t>(n, 4096));
    for (std::uint64_t i = 0; i < n; ++i) {
        platform::SMCKeyData_t input;
        platform::SMCKeyData_t output;
        input.data8 = rawValue(platform::SMCKeys::readIndex);
        input.data32 = static_cast<std::uint32_t>(i);
        const KernReturn code = transport_->call(conn, kSelector, platform::blockBytes(input),
                                                 platform::blockBytes(output));
        if (code != kIOReturnSuccess || output.result != 0) {
            continue;
        }
        keys.push_back(fourCharCodeString(output.key));
    }
    return keys;
}

std::string SMC::errorText(KernReturn code) const {
    const char* text = transport_->errorText(code);
    if (text == nullptr) {
        return "unknown error";
    }
    for (const char* c = text; *c != '\0'; ++c) {
        if (static_cast<unsigned char>(*c) >= 0x80) {
            return "unknown error";
        }
    }
    return text;
}

void SMC::print(std::initializer_list<std::string_view> pieces) const noexcept {
    try {
        std::string line;
        for (const auto piece : pieces) {
            line.append(piece);
        }
        if (sink_) {
            sink_(line);
        }
    } catch (...) {
        // A failure report that cannot be written is dropped rather than ending the reader.
    }
}

} // namespace brivane
