#include "Application.h"

#include "Log.h"

#include <exception>

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event)
{
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    LOG(Error) << "Caught unhandled error: " << e.what();
  } catch (...) {
    LOG(Error) << "Caught unknown unhandled error";
  }
  exit(1);
  return false;
}
