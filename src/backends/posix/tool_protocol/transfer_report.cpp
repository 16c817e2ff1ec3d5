#include "backends/posix/tool_protocol/transfer_report.h"

#include "base/whole_number.h"

#include <algorithm>

namespace brivane::platform::posix {
namespace {

constexpr std::string_view responseWord = "response ";
constexpr std::string_view errorWord = "error ";

std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

} // namespace

std::string transferReportHead(const TransferReport& report) {
    if (report.error || !report.response) {
        return std::string(errorWord) + oneLine(report.error.value_or("no response")) + "\n";
    }
    return std::string(responseWord) + std::to_string(report.response->statusCode) + " " +
           oneLine(report.response->finalURL) + "\n";
}

std::optional<TransferReport> parseTransferReport(std::string_view output) {
    const auto end = output.find('\n');
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view head = output.substr(0, end);
    TransferReport report;
    if (head.starts_with(errorWord)) {
        if (end + 1 != output.size()) {
            return std::nullopt;
        }
        report.error = std::string(head.substr(errorWord.size()));
        return report;
    }
    if (!head.starts_with(responseWord)) {
        return std::nullopt;
    }
    const std::string_view rest = head.substr(responseWord.size());
    const auto blank = rest.find(' ');
    const auto status = base::wholeNumber<long>(rest.substr(0, blank));
    if (blank != 3 || !status || *status < 100) { // an HTTP status: three digits
        return std::nullopt;
    }
    report.response = TransferResponse{*status, std::string(rest.substr(blank + 1))};
    report.body = std::string(output.substr(end + 1));
    return report;
}

} // namespace brivane::platform::posix
