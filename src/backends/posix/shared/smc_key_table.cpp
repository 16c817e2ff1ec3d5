#include "backends/posix/shared/smc_key_table.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace brivane::platform {
namespace {

void send(const SMCKeyData_t& answer, SMCOutputBlock output) {
    std::memcpy(output.data(), &answer, sizeof answer);
}

// Fills the answer to a key request; the result stays 0 unless the key is unknown or silent.
void answerKey(const SMCKeyTable& table, const SMCRequest& request, SMCKeyData_t& answer) {
    answer.key = request.key;
    const auto info = table.keyInfo(request.key);
    if (!info) {
        answer.result = kSMCResultKeyNotFound;
        return;
    }
    if (isRequest(request, SMCKeys::readKeyInfo)) {
        answer.keyInfo.dataSize = info->size;
        answer.keyInfo.dataType = info->type;
        answer.keyInfo.dataAttributes = info->attributes;
        return;
    }
    std::array<std::uint8_t, kSMCValueCapacity> bytes{};
    if (!table.valueBytes(request.key, bytes)) {
        answer.result = kSMCResultSensorError;
        return;
    }
    std::copy_n(bytes.begin(), std::min<std::size_t>(request.dataSize, kSMCValueCapacity),
                answer.bytes.begin());
}

} // namespace

SMCRequest readSMCRequest(SMCInputBlock input) {
    const SMCKeyData_t block = keyData(input);
    return {block.data8, block.key, block.data32, block.keyInfo.dataSize};
}

void answerSMCResult(SMCOutputBlock output, std::uint32_t key, std::uint8_t result) {
    SMCKeyData_t answer;
    answer.key = key;
    answer.result = result;
    send(answer, output);
}

KernReturn answerSMCRequest(const SMCKeyTable& table, const SMCRequest& request,
                            SMCOutputBlock output) {
    SMCKeyData_t answer;
    if (isRequest(request, SMCKeys::readIndex)) {
        if (const auto key = table.keyAt(request.index)) {
            answer.key = *key;
        } else {
            answer.result = kSMCResultKeyNotFound;
        }
    } else if (isRequest(request, SMCKeys::readKeyInfo) || isRequest(request, SMCKeys::readBytes)) {
        answerKey(table, request, answer);
    } else {
        send(answer, output); // refused: all zero
        return kIOReturnBadArgument;
    }
    send(answer, output);
    return kIOReturnSuccess;
}

} // namespace brivane::platform
