#include "Application.h"
#include "Log.h"
#include "Logger.h"
#include "SingleInstance.h"
#include "cfg/Config.h"
#include "cfg/Settings.h"
#include "sm/StateMachine.h"
#include "util/Fonts.h"

#include <QTimer>

#include <chrono>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

// The name of the service environment in use, or nothing for an address
// given in config.json.
std::string EnvironmentName(const Config& config)
{
  if (config.serviceUrl == Config::ProductionUrl())
    return "ArvelNet-Prod";
  if (config.serviceUrl == Config::PreproductionUrl())
    return "ArvelNet-Preprod";
  return std::string();
}

// Test hook: LUMORA_TEST_THROW=std or =other makes the first pass of the
// event loop throw, as a failing event handler would.
void ArmTestFault()
{
  const QByteArray fault = qgetenv("LUMORA_TEST_THROW");
  if (fault == "std")
    QTimer::singleShot(0, [] { throw std::runtime_error("test fault in the event loop"); });
  else if (fault == "other")
    QTimer::singleShot(0, [] { throw 42; });
}

} // namespace

int main(int argc, char** argv)
{
  Application app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Arvel"));
  QCoreApplication::setApplicationName(QStringLiteral("Lumora"));
  QGuiApplication::setQuitOnLastWindowClosed(false);

  // One copy per user session. A later start asks the running copy to come
  // to the front and ends before it reads the configuration, opens the log
  // (where its records would mix with the running copy's) or touches the
  // settings or a stick. The lock is held until main returns, after the log
  // is closed.
  SingleInstance instance(Config::DataFolder());
  switch (instance.Claim(std::chrono::seconds(5))) {
  case SingleInstance::Role::Run:
    break;
  case SingleInstance::Role::Handed:
    std::cerr << "Lumora: already running; the running copy was asked to come to the front" << std::endl;
    return 0;
  case SingleInstance::Role::Unanswered:
    std::cerr << "Lumora: already running, but the running copy did not answer" << std::endl;
    return 1;
  }

  const Config& config = Config::get();
  QCoreApplication::setApplicationVersion(config.version);

  std::unique_ptr<Log::ILogger> logger;
  if (config.logLevel) {
    try {
      logger = Log::CreateFileLogger(config.logsDir.toStdString());
      logger->SetMinimumLevel(*config.logLevel);
    } catch (const std::exception& e) {
      // Without its log the application still works; say why there is none.
      std::cerr << "Lumora: cannot log to " << config.logsDir.toStdString() << ": " << e.what() << std::endl;
      logger.reset();
    }
  }

  const std::string buildLabel = "Production Release";
  LOG(Info) << "Starting " << config.appName;
  LOG(Info) << "Configuration : " << buildLabel;
  LOG(Info) << "Version : " << config.version;
  LOG(Info) << "config.json-file contents: Application LogLevel = "
            << (config.logLevel ? *config.logLevel : static_cast<Log::Severity>(-1))
            << ", FullMapUpdate UpdateType = " << EnvironmentName(config)
            << ", MapDownload RetryDuration = " << config.retryDuration;
  // What went wrong with config.json happened before the log existed.
  for (const std::string& error : config.errors)
    LOG(Error) << error;
  for (const std::string& error : instance.Errors())
    LOG(Error) << error;

  Fonts::Load();

  int exitCode = 1;
  try {
    Settings::get();
    StateMachine machine;
    QObject::connect(&instance, &SingleInstance::ActivationRequested, &machine,
                     &StateMachine::RequestActivation);
    machine.initiate();
    ArmTestFault();
    exitCode = app.exec();
  } catch (const std::exception& e) {
    LOG(Error) << "Caught unhandled error: " << e.what();
    exitCode = 1;
  } catch (...) {
    LOG(Error) << "Caught unknown unhandled error";
    exitCode = 1;
  }

  logger.reset();
  return exitCode;
}
