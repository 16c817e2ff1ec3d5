#include "base/whole_number.h"
#include "readers/process_details_reader.h"

#include <cmath>
#include <limits>

namespace brivane {

namespace {

bool isFieldSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view line) {
    std::size_t start = 0;
    while (start < line.size() && isFieldSeparator(line[start]))
        ++start;
    std::size_t end = line.size();
    while (end > start && isFieldSeparator(line[end - 1]))
        --end;
    return line.substr(start, end - start);
}

std::string_view firstField(std::string_view line) {
    std::size_t end = 0;
    while (end < line.size() && !isFieldSeparator(line[end]))
        ++end;
    return line.substr(0, end);
}

// Walks the lines of a text, skipping empty ones.
class Lines {
public:
    explicit Lines(std::string_view text) : rest_(text) {}
    bool next(std::string_view& line) {
        while (!rest_.empty()) {
            std::size_t newline = rest_.find('\n');
            line = rest_.substr(0, newline);
            rest_.remove_prefix(newline == std::string_view::npos ? rest_.size() : newline + 1);
            if (!line.empty())
                return true;
        }
        return false;
    }
    std::string_view rest() const { return rest_; }

private:
    std::string_view rest_;
};

std::optional<int64_t> parsePid(std::string_view field) {
    bool negative = false;
    if (!field.empty() && (field.front() == '+' || field.front() == '-')) {
        negative = field.front() == '-';
        field.remove_prefix(1);
    }
    if (field.empty())
        return std::nullopt;
    for (char c : field) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    const auto value = base::wholeNumber<int64_t>(field);
    if (!value)
        return std::nullopt;
    return negative ? -*value : *value;
}

std::optional<double> parseUsage(std::string_view field) {
    if (!field.empty() && field.front() == '+')
        field.remove_prefix(1);
    if (field.empty() || field.front() == '+')
        return std::nullopt;
    const auto value = base::wholeNumber<double>(field);
    if (!value || !std::isfinite(*value))
        return std::nullopt;
    return value;
}

// The fields between the first and the last, one blank between each.
std::string joinedMiddleFields(std::string_view middle) {
    std::string name;
    name.reserve(middle.size());
    bool inSeparator = false;
    for (char c : trimmed(middle)) {
        if (isFieldSeparator(c)) {
            inSeparator = true;
            continue;
        }
        if (inSeparator)
            name.push_back(' ');
        inSeparator = false;
        name.push_back(c);
    }
    return name;
}

} // namespace

std::vector<CPUDetailsSnapshot::ProcessReading>
ProcessDetailsReader::parseEnergy(std::string_view output,
                                  const std::unordered_set<int32_t>& excluding) {
    std::vector<CPUDetailsSnapshot::ProcessReading> readings;

    // Only the last sample counts: find the text after the last header line.
    std::size_t headers = 0;
    std::string_view lastSample;
    {
        Lines lines(output);
        std::string_view line;
        while (lines.next(line)) {
            if (firstField(trimmed(line)) == "PID") {
                ++headers;
                lastSample = lines.rest();
            }
        }
    }
    if (headers < 2)
        return readings;

    Lines lines(lastSample);
    std::string_view line;
    while (readings.size() < maximumReadings && lines.next(line)) {
        std::string_view fields = trimmed(line);
        std::string_view pidField = firstField(fields);
        std::size_t lastStart = fields.size();
        while (lastStart > 0 && !isFieldSeparator(fields[lastStart - 1]))
            --lastStart;
        if (lastStart <= pidField.size())
            continue; // one field only
        std::string_view middle = fields.substr(pidField.size(), lastStart - pidField.size());
        if (trimmed(middle).empty())
            continue; // fewer than three fields

        std::optional<int64_t> pid = parsePid(pidField);
        if (!pid || *pid < 1)
            continue;
        if (*pid <= std::numeric_limits<int32_t>::max() &&
            excluding.count(static_cast<int32_t>(*pid)) != 0)
            continue;
        std::optional<double> usage = parseUsage(fields.substr(lastStart));
        if (!usage || *usage < 0)
            continue;
        // A negative zero is not negative, but should not print as one either.
        readings.push_back({*pid, joinedMiddleFields(middle), *usage + 0.0});
    }
    return readings;
}

} // namespace brivane
