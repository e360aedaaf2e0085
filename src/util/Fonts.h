#pragma once

#include <QFont>

// The UI font family built into the application ("Arvel Sans").
namespace Fonts {

enum Type : int
{
  Regular = 0,
  Medium = 1,
  Bold = 2
};

// Registers the three built-in font files with the font database; a file that
// cannot be registered is logged and skipped. Call once, before any window.
void Load();

// The UI font of the given weight and pixel size. Throws std::logic_error
// "Unsupported font type" for a value outside Type.
QFont Get(Type type, int pixelSize);

} // namespace Fonts
