#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string_view>

// The names of an enumeration's values, one table for writing them and for
// reading them back:
//
//     const EnumName<Paint::Colour> ColourNames[] = {ENUM_NAME(Paint, Red), ENUM_NAME(Paint, Green)};
//
//     std::ostream& operator<<(std::ostream& os, Paint::Colour colour)
//     {
//       return WriteName(os, colour, ColourNames);
//     }
//
// A value's name is its identifier, spelled once in the table. A value the
// table does not list (an integer cast to the enumeration) has no name: it
// writes nothing and no text reads as it. Log lines rely on both.
template <typename Enum>
struct EnumName
{
  Enum value;
  const char* name;
};

// The table entry of `scope::value`, named "value".
// clang-format off
#define ENUM_NAME(scope, value) {scope::value, #value}
// clang-format on

// The name of `value`, or nullptr when the table does not list it.
template <typename Enum, std::size_t N>
const char* NameOf(Enum value, const EnumName<Enum> (&names)[N])
{
  for (const EnumName<Enum>& entry : names)
    if (entry.value == value)
      return entry.name;
  return nullptr;
}

// The value whose name is exactly `text`, or nothing.
template <typename Enum, std::size_t N>
std::optional<Enum> ValueOf(std::string_view text, const EnumName<Enum> (&names)[N])
{
  for (const EnumName<Enum>& entry : names)
    if (text == entry.name)
      return entry.value;
  return std::nullopt;
}

// Writes the name of `value` through the formatted-output path (a width set on
// the stream pads it); nothing for a value the table does not list.
template <typename Enum, std::size_t N>
std::ostream& WriteName(std::ostream& os, Enum value, const EnumName<Enum> (&names)[N])
{
  if (const char* name = NameOf(value, names))
    os << name;
  return os;
}
