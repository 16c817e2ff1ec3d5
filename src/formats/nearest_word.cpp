#include "formats/nearest_word.h"

#include <algorithm>
#include <vector>

namespace brivane {
namespace {

// Optimal string alignment distance, stopping early once it exceeds `limit`.
std::size_t editDistance(std::string_view a, std::string_view b, std::size_t limit) {
    if (std::max(a.size(), b.size()) - std::min(a.size(), b.size()) > limit) {
        return limit + 1;
    }
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (std::size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

} // namespace

std::optional<std::string_view> nearestWord(std::string_view word,
                                            std::span<const std::string_view> candidates) {
    // Long arguments are no typos of short words; this also bounds the work.
    if (word.empty() || word.size() > 64) {
        return std::nullopt;
    }
    const std::size_t limit = std::min<std::size_t>(2, (word.size() - 1) / 2);
    std::optional<std::string_view> best;
    std::size_t bestDistance = limit + 1;
    for (const auto candidate : candidates) {
        const auto distance = editDistance(word, candidate, limit);
        if (distance == 0) {
            return std::nullopt;
        }
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace brivane
