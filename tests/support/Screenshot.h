#pragma once

#include <QString>

class QWidget;

// Writes a picture of the widget as <output>/<name>.png, where <output> is
// $LUMORA_TEST_OUTPUT or <build>/test-output/<test executable>, for a
// reviewer to look at. The widget is laid out and polished first; it need not
// be shown. Returns the file's path (empty when it could not be written).
QString SaveScreenshot(QWidget* widget, const QString& name);

// The folder the screenshots of this test executable go to.
QString ScreenshotFolder();
