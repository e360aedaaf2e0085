#pragma once

#include <QApplication>

// The application object. An exception that leaves an event handler or a
// slot is caught here, logged ("Caught unhandled error: ..." or "Caught
// unknown unhandled error"), and ends the event loop with exit code 1,
// instead of tearing the process down on its way through Qt.
class Application : public QApplication
{
  Q_OBJECT

public:
  Application(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};
