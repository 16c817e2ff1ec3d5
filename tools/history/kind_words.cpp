#include "kind_words.h"

namespace brivane::cli {
namespace {

struct FigureWords {
    std::string_view stored;
    std::string_view ruled;
};

// The columns differ where databases already written and rule files users wrote by hand each
// hold their word, so neither may change: a card's load and memory are "gpu" in a database and
// "graphics" in a rule (its temperature and power have their kinds). A rule names no retired
// files, and an input of a kind only a newer agent knows keeps its type there, even blank.
FigureWords figureWords(Figure figure) {
    switch (figure) {
    case Figure::graphics:
        return {"graphics", "graphics"};
    case Figure::gpu:
        return {"gpu", "graphics"};
    case Figure::accessory:
        return {"accessory", "accessory"};
    case Figure::batteryLevel:
    case Figure::batteryState:
    case Figure::batteryPower:
    case Figure::batteryTimeToEmpty:
    case Figure::batteryTimeToFull:
    case Figure::batteryHealth:
    case Figure::batteryCycles:
        return {"battery", "battery"};
    case Figure::source:
        return {"source", "source"};
    case Figure::retiredFiles:
        return {"retired", ""};
    case Figure::temperature:
    case Figure::fan:
    case Figure::power:
    case Figure::energy:
    case Figure::sensor:
        break;
    }
    return {"sensor", ""};
}

} // namespace

std::string_view kindWord(const Series& series, KindWords column) {
    if (!series.type.empty()) {
        return series.type;
    }
    const FigureWords words = figureWords(series.figure);
    return column == KindWords::stored ? words.stored : words.ruled;
}

} // namespace brivane::cli
