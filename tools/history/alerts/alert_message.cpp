#include "alert_message.h"

#include "base/utf8.h"
#include "platform/sensor_kinds.h"
#include "rule_values.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace brivane::cli {
namespace {

std::string fixed(double value, int decimals) {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
    return text.data();
}

std::string flagList(std::uint32_t raised) {
    std::string words;
    for (std::size_t i = 0; i < alertFlagCount; ++i) {
        const auto flag = static_cast<AlertFlag>(i);
        if ((raised >> i & 1u) != 0 && flag != AlertFlag::fault) {
            words += (words.empty() ? "" : ", ") + std::string(wordOf(flag));
        }
    }
    return words;
}

std::string firingBody(const AlertTransition& event) {
    const std::string& name = event.reading;
    if (event.kind == "agent") {
        return "The sensor agent does not answer; the readings and their alerts wait for it.";
    }
    if (event.threshold) {
        const double value = event.value.value_or(*event.threshold);
        const bool below = value < *event.threshold;
        return name + " is at " + valueText(value, event.unit) + (below ? ", below " : ", above ") +
               valueText(*event.threshold, event.unit) + ".";
    }
    const bool fault = (event.raised & 1u << static_cast<unsigned>(AlertFlag::fault)) != 0;
    const std::string flags = flagList(event.raised);
    if (event.kind == "disk") {
        std::string body = name + ":";
        body += fault ? " SMART reports the drive failing." : "";
        body += flags.empty() ? "" : " The drive reports a critical warning.";
        return body;
    }
    std::string body = name;
    if (!flags.empty()) {
        const bool one = flags.find(',') == std::string::npos;
        body += " raises its " + flags + (one ? " flag" : " flags");
    }
    if (fault) {
        body += flags.empty() ? " reports a fault" : " and reports a fault";
    }
    return body + ".";
}

std::string recoveredBody(const AlertTransition& event) {
    const std::string episode = "since " + clockText(event.since, event.time) + ", " +
                                durationText(std::max(0.0, event.time - event.since));
    switch (event.cause) {
    case AlertTransition::Cause::readingGone:
        return event.reading + " is no longer reported (" + episode + ").";
    case AlertTransition::Cause::ruleOff:
        return "Its rule was removed or turned off (" + episode + ").";
    case AlertTransition::Cause::condition:
        break;
    }
    if (event.kind == "agent") {
        return "The sensor agent answers again (" + episode + ").";
    }
    if (event.value && (event.threshold || event.kind != "disk")) {
        return event.reading + " is back at " + valueText(*event.value, event.unit) + " (" +
               episode + ").";
    }
    return event.reading + " is back to normal (" + episode + ").";
}

// Control characters would end up on the desktop as boxes or worse; a line feed is the body's
// own line break.
std::string printable(std::string_view text, bool keepLineFeeds, bool markup) {
    const std::string valid = base::utf8::replacingInvalid(text);
    std::string out;
    out.reserve(valid.size());
    for (std::size_t at = 0; at < valid.size();) {
        const auto sequence = base::utf8::decode(valid, at);
        const char32_t c = sequence.codePoint;
        if ((c < 0x20 && !(keepLineFeeds && c == '\n')) || (c >= 0x7F && c < 0xA0) ||
            (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) {
            out += base::utf8::replacementCharacter;
        } else if (markup && c == '&') {
            out += "&amp;";
        } else if (markup && c == '<') {
            out += "&lt;";
        } else if (markup && c == '>') {
            out += "&gt;";
        } else {
            out.append(valid, at, sequence.length);
        }
        at += sequence.length;
    }
    return out;
}

std::string number(std::optional<double> value) {
    if (!value) {
        return {};
    }
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%.17g", *value);
    return text.data();
}

} // namespace

std::string valueText(double value, std::string_view unit) {
    if (unit == "ratio") {
        return fixed(value * 100, 0) + " %";
    }
    if (unit == "seconds") {
        return durationText(value);
    }
    for (const auto& row : platform::sensorKinds) {
        if (row.unit == unit && !unit.empty()) {
            const std::string_view symbol = row.view.symbol.empty() ? unit : row.view.symbol;
            return fixed(value, row.view.decimals) + " " + std::string(symbol);
        }
    }
    const bool whole = std::floor(value) == value && std::fabs(value) < 1e15;
    return fixed(value, whole ? 0 : 2) + (unit.empty() ? "" : " " + std::string(unit));
}

std::string clockText(double seconds, double now) {
    const auto time = static_cast<std::time_t>(std::floor(seconds));
    std::tm local{};
    if (!::localtime_r(&time, &local)) {
        return "?";
    }
    std::array<char, 32> text{};
    const char* format = now - seconds > 20 * 3600 ? "%a %H:%M" : "%H:%M";
    return std::strftime(text.data(), text.size(), format, &local) ? text.data() : "?";
}

AlertMessage alertMessage(const AlertTransition& event) {
    const std::string title = event.summary.empty() ? event.rule : event.summary;
    if (event.change == AlertTransition::Change::firing) {
        return {title, firingBody(event)};
    }
    return {"Recovered: " + title, recoveredBody(event)};
}

AlertMessage notificationText(const AlertMessage& message, bool bodyMarkup) {
    return {printable(message.title, false, false), printable(message.body, true, bodyMarkup)};
}

std::string journalLine(const AlertTransition& event, const AlertMessage& message) {
    const bool firing = event.change == AlertTransition::Change::firing;
    return "alert " + event.rule + " " + event.reading + (firing ? " firing" : " recovered") +
           " (" + std::string(wordOf(event.severity)) + "): " + message.title + ": " + message.body;
}

std::vector<std::pair<std::string, std::string>> alertEnvironment(const AlertTransition& event,
                                                                  const AlertMessage& message) {
    const bool firing = event.change == AlertTransition::Change::firing;
    // Environment values end at a NUL, and a script may print them anywhere.
    const auto safe = [](std::string_view text) { return printable(text, false, false); };
    return {
        {"BRIVANE_ALERT_RULE", safe(event.rule)},
        {"BRIVANE_ALERT_SENSOR", safe(event.reading)},
        {"BRIVANE_ALERT_STATE", firing ? "firing" : "recovered"},
        {"BRIVANE_ALERT_SEVERITY", std::string(wordOf(event.severity))},
        {"BRIVANE_ALERT_VALUE", number(event.value)},
        {"BRIVANE_ALERT_THRESHOLD", number(event.threshold)},
        {"BRIVANE_ALERT_UNIT", safe(event.unit)},
        {"BRIVANE_ALERT_SINCE", number(std::floor(event.since))},
        {"BRIVANE_ALERT_TIME", number(std::floor(event.time))},
        {"BRIVANE_ALERT_TITLE", safe(message.title)},
        {"BRIVANE_ALERT_BODY", safe(message.body)},
    };
}

} // namespace brivane::cli
