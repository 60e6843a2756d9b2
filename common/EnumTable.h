// Closed sets of cases described by one table: row i of the table is case i, in the order
// the cases are listed. A case type T wraps an enumeration T::Case with values 0..N-1 and
// is constructible from it; the table's rows hold the raw value and anything else per case.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <utility>

namespace vantry::enum_table {

// Every case of T in table order (built once).
template <class T, std::size_t N>
const std::array<T, N>& allCases() {
    static const std::array<T, N> all = []<std::size_t... I>(std::index_sequence<I...>) {
        return std::array<T, N>{T(static_cast<typename T::Case>(I))...};
    }(std::make_index_sequence<N>{});
    return all;
}

// The case whose row's key equals value (the first such row); absent when none does.
// key: a pointer to the row's raw-value member, or std::identity{} for a table of raw values.
template <class T, class Row, std::size_t N, class Key, class Value>
std::optional<T> find(const std::array<Row, N>& rows, Key key, const Value& value) {
    for (std::size_t i = 0; i < N; ++i) {
        if (std::invoke(key, rows[i]) == value) return T(static_cast<typename T::Case>(i));
    }
    return std::nullopt;
}

// The row of case c.
template <class Row, std::size_t N, class Case>
const Row& row(const std::array<Row, N>& rows, Case c) {
    return rows[static_cast<std::size_t>(c)];
}

}  // namespace vantry::enum_table
