#pragma once

// The cells and figure tables every view builds its rows from: text as shown beside the value
// scripts read.

#include "view_model.h"

#include <cstdint>
#include <optional>
#include <string>

namespace brivane::cli::cells {

ViewCell text(std::string value);
ViewCell text(const char* value);
ViewCell text(const std::optional<std::string>& value); // empty when absent
ViewCell number(double value, int decimals);
ViewCell integer(std::int64_t value);
ViewCell bytes(double value);

// "7 h 05 min" from seconds.
std::string duration(double seconds);

// A table of figures: name, value with its unit, and the unit alone for scripts.
ViewSection figures(std::string key, std::string title, std::string whyEmpty);
void addFigure(ViewSection& section, std::string name, ViewValue value, std::string shown,
               std::string unit);
void addNumber(ViewSection& section, std::string name, double value, int decimals,
               std::string unit);

} // namespace brivane::cli::cells
