#pragma once

#include <QtGlobal>

#include <iosfwd>

namespace Tesk {

// The sink to which a request reports. Implemented by the caller of the
// service client; it must outlive every request it is given to. All calls come
// from the request's thread, from its event loop, never from inside a call the
// caller makes into the request.
class IResponse
{
public:
  // The outcome of a request.
  enum Result
  {
    Ok = 0,           // the reply finished without error and without a redirect
    ContentError = 1, // not produced by the client itself
    ServerError = 2,  // the service answered, but not with the resource
    NoConnection = 3, // the service could not be reached, or stopped answering
    IOError = 4       // the body could not be written to the caller's stream
  };

  virtual ~IResponse() = default;

  // Download progress of the current attempt: bytes received in this attempt
  // and the total the reply announces (-1 when it announces none).
  virtual void OnProgress(qint64 received, qint64 total);

  // `bytes` further bytes of the body were written to the caller's stream.
  virtual void OnData(qint64 bytes);

  // The request has ended with `result`; it stays idle until the caller starts
  // another attempt.
  virtual void OnResult(Result result) = 0;
};

// Writes "Ok", "ContentError", "ServerError", "NoConnection" or "IOError";
// nothing for any other value.
std::ostream& operator<<(std::ostream& os, IResponse::Result result);

// Reads one blank-delimited word; only an exact value name changes `result`,
// any other word leaves the value and the stream state as they were.
std::istream& operator>>(std::istream& is, IResponse::Result& result);

} // namespace Tesk
