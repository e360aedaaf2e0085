#pragma once

#include <QString>
#include <QtGlobal>

// "%1 %2": the byte count in the largest of "B", "KB", "MB", "GB", "TB"
// (steps of 1024) that it reaches, with `decimals` decimals; counts below 1
// stay in "B". The unit is translated in the context "global".
QString MemorySizeToString(qint64 bytes, int decimals);

// Keeps ASCII letters, digits and white space, and turns every white-space
// character into "_".
QString StripNonAlphaNumeric(const QString& text);
