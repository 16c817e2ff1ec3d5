#pragma once

// What an alert event says, in words: the title and body of its notification, the line in the
// journal, the fields a command's environment carries. Pure; the texts are the readings' own
// names, which the agent's drivers chose, so each output escapes them for where it goes.

#include "alert_evaluator.h"

#include <string>
#include <utility>
#include <vector>

namespace brivane::cli {

struct AlertMessage {
    std::string title; // "Temperature near critical", "Recovered: Battery hot"
    std::string body;  // "k10temp/Tctl is at 96.0 °C, above 95.0 °C."
};

AlertMessage alertMessage(const AlertTransition& event);

// The message as a notification server takes it: valid UTF-8 without control characters but
// the body's line feeds; with markup, "&", "<" and ">" in the body as entities.
AlertMessage notificationText(const AlertMessage& message, bool bodyMarkup);

// "temperature-near-crit k10temp/Tctl firing: Temperature near critical: k10temp/Tctl is at …"
std::string journalLine(const AlertTransition& event, const AlertMessage& message);

// BRIVANE_ALERT_RULE, _SENSOR, _STATE (firing or recovered), _SEVERITY, _VALUE, _THRESHOLD,
// _UNIT, _SINCE and _TIME (seconds since 1970), _TITLE and _BODY.
std::vector<std::pair<std::string, std::string>> alertEnvironment(const AlertTransition& event,
                                                                  const AlertMessage& message);

// "96.0 °C", "12.10 V", "1200 rpm", "15 %" (a ratio), "1h30m" (seconds): a reading's value in
// its unit's words.
std::string valueText(double value, std::string_view unit);

// "14:02" in local time, or "Mon 14:02" for a time more than 20 hours before `now`.
std::string clockText(double seconds, double now);

} // namespace brivane::cli
