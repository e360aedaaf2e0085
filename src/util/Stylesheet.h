#pragma once

#include <QString>

class QWidget;

// Replaces the widget's style sheet with the text of the file at `path` (a
// ":/styles/..." resource or a file), up to its first zero byte. A file that
// cannot be opened is logged and the widget keeps its style sheet.
void LoadStylesheet(const QString& path, QWidget* widget);
