#pragma once

#include <optional>
#include <vector>

namespace brivane::cli {

// A snapshot's optional list, or an empty one, without copying it.
template <typename T> const std::vector<T>& orEmpty(const std::optional<std::vector<T>>& list) {
    static const std::vector<T> none;
    return list ? *list : none;
}

} // namespace brivane::cli
