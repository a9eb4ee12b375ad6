#ifndef KELVORA_COMMON_NAMETABLE_H
#define KELVORA_COMMON_NAMETABLE_H

// Names of an enumeration as scripts and report files see them, from one table of rows.
// The table's size is the number of rows written: no slot without a row, so a name that
// is no row's (an empty one, a misspelt one) is never taken for the first value.

#include <QString>
#include <QStringView>

#include <cstddef>

namespace kelvora {

template <typename E>
struct NameRow {
    E value;
    const char* name;
};

// The name of `value`; empty when no row has it.
template <typename E, std::size_t N>
QString nameOf(const NameRow<E> (&rows)[N], E value)
{
    for (const NameRow<E>& row : rows) {
        if (row.value == value)
            return QLatin1String(row.name);
    }
    return {};
}

// The value named `name`; false, *value untouched, when no row has that name.
template <typename E, std::size_t N>
bool valueOfName(const NameRow<E> (&rows)[N], QStringView name, E* value)
{
    for (const NameRow<E>& row : rows) {
        if (name == QLatin1String(row.name)) {
            *value = row.value;
            return true;
        }
    }
    return false;
}

} // namespace kelvora

#endif
