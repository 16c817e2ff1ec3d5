// Any alerts.conf must parse or be refused at a line and column inside the file, with a message
// that quotes nothing a terminal would act on; a file that parses gives rules that can be tested.
#include "history/alerts/rule_file.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = brivane::cli::parseRuleFile(text);
    if (!parsed.rules) {
        const auto& problem = parsed.problem;
        const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        if (problem.line < 1 || problem.line > lines + 1 || problem.column < 1 ||
            problem.message.empty()) {
            std::abort();
        }
        for (const char c : problem.message) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F) {
                std::abort();
            }
        }
        return 0;
    }
    for (const auto& rule : parsed.rules->rules) {
        const bool threshold = rule.test != brivane::cli::AlertRule::Test::alarm;
        if (rule.name.empty() || (threshold && rule.threshold.alternatives.empty()) ||
            (!threshold && rule.flags == 0) || !std::isfinite(rule.hysteresis) ||
            rule.forSeconds < 0 || rule.execTimeoutSeconds <= 0) {
            std::abort();
        }
    }
    return 0;
}
