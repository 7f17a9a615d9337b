// Tables indexed by an enumeration's position (wire texts, log names, rules, messages), tied to
// their enumerations. Every row names the enumerator it belongs to, and each table is checked at
// compile time with `in_enum_order`:
//
//     constexpr Named<Outcome> OUTCOME_NAMES[] = {{Outcome::Written, "Written"}, ...};
//     static_assert(enum_table::in_enum_order<Outcome::Unavailable>(OUTCOME_NAMES));
//
// Reordering or extending an enumeration without its table then stops the build, instead of
// silently changing what a value prints or sends.
#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>
#include <type_traits>

namespace ondrake::enum_table {

// True when `rows` has exactly one row per enumerator, from the first to `LAST`, and row i names
// (through `key`) the enumerator at position i.
template <auto LAST, class Rows, class Row>
constexpr bool in_enum_order(const Rows& rows, decltype(LAST) Row::*key) {
    std::size_t position = 0;
    for (const Row& row : rows) {
        if (static_cast<std::size_t>(row.*key) != position) return false;
        ++position;
    }
    return position == static_cast<std::size_t>(LAST) + 1;
}

// The same for rows that name their enumerator in a member called `value` (Named and the like).
template <auto LAST, class Rows>
constexpr bool in_enum_order(const Rows& rows) {
    using Row = std::remove_cvref_t<decltype(*std::begin(rows))>;
    return in_enum_order<LAST>(rows, &Row::value);
}

// The row of `value` in a table checked by in_enum_order, or nullptr for a value outside the
// enumeration (a cast from an out-of-range integer).
template <class Rows, class Enum>
constexpr const auto* row_of(const Rows& rows, Enum value) {
    auto position = static_cast<std::size_t>(value);
    return position < std::size(rows) ? &rows[position] : nullptr;
}

// The row of a table that gives each enumerator one text.
template <class Enum>
struct Named {
    Enum value;
    std::string_view text;
};

}  // namespace ondrake::enum_table
