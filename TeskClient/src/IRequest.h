#pragma once

#include <QtGlobal>

#include <chrono>

namespace Tesk {

// One request of the map-update service, with its inactivity time-out,
// automatic retry window, redirects and resume by byte range.
//
// The caller owns the request and deletes it through this interface; deleting
// a request whose attempt is in flight drops that attempt, and the sink hears
// nothing more. A request is used only on the thread that created it, and its
// sink is called only from that thread's event loop.
class IRequest
{
public:
  virtual ~IRequest() = default;

  // Inactivity time-out of every later attempt: an attempt that receives
  // nothing for this long is dropped and retried. Without it an attempt never
  // times out.
  virtual void SetTimeout(std::chrono::milliseconds timeout) = 0;

  // Starts an attempt. Refused (with a warning) while one is in flight.
  virtual void Send() = 0;

  // Starts a further attempt, asking only for the rest of the resource when the
  // output stream already holds part of it. Returns true.
  virtual bool Retry() = 0;

  // Drops the attempt in flight without a result.
  virtual void Abort() = 0;

  // The caller's running total of body bytes received so far.
  virtual void GetDownloadedbytes(qint64 bytes) = 0;

  // The user's retry after a failure result: opens a new retry window and sends
  // at once. Ignored while a window is open.
  virtual void RetryButtonClicked() = 0;

  // Length of the automatic retry window.
  virtual void SetAutomaticRetryTimeout(std::chrono::milliseconds duration) = 0;

  // Marks the request as a map archive download and takes its retry window
  // ("MapDownload"/"RetryDuration", 1 to 10 minutes, 3 by default) from
  // config.json in the application's data folder.
  virtual void ReadRetryDurationFromConfig() = 0;
};

} // namespace Tesk
