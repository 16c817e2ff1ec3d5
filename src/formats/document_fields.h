#pragma once

// One list of JSON members per document record, read by the encoder and the decoder alike, so a
// key is spelled in one place. A record's list names its members in the order they are written;
// an optional member is omitted when absent and may be missing or null when read, every other
// member is written always and required when read.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

namespace brivane {

template <typename Record, typename Member> struct Field {
    std::string_view key;
    Member Record::*member;
};

template <typename Record, typename Member>
constexpr Field<Record, Member> field(std::string_view key, Member Record::*member) {
    return {key, member};
}

// Specialised per record with `static constexpr auto list = std::tuple{field(...), ...};`.
template <typename Record> struct Fields;

template <typename Value>
concept DocumentRecord = requires {
    Fields<Value>::list;
};

template <typename Value> inline constexpr bool isOptional = false;
template <typename Value> inline constexpr bool isOptional<std::optional<Value>> = true;

template <typename Value> inline constexpr bool isVector = false;
template <typename Element> inline constexpr bool isVector<std::vector<Element>> = true;

template <typename Value> inline constexpr bool isStringMap = false;
template <typename Value, typename Compare>
inline constexpr bool isStringMap<std::map<std::string, Value, Compare>> = true;

// The key of a record's member in its list; empty for a member the list lacks.
template <typename Record, typename Member>
constexpr std::string_view keyOf(Member Record::*member) {
    std::string_view key;
    std::apply(
        [&](const auto&... field) {
            const auto same = [member](auto other) {
                if constexpr (std::is_same_v<decltype(other), Member Record::*>) {
                    return other == member;
                } else {
                    return false;
                }
            };
            ((key = same(field.member) ? field.key : key), ...);
        },
        Fields<Record>::list);
    return key;
}

// Calls visit(key, member) for every member of `record`, in list order.
template <typename Record, typename Visit>
requires DocumentRecord<std::remove_const_t<Record>>
void forEachField(Record& record, Visit&& visit) {
    std::apply([&](const auto&... field) { (visit(field.key, record.*field.member), ...); },
               Fields<std::remove_const_t<Record>>::list);
}

} // namespace brivane
