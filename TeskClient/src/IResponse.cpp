#include "IResponse.h"

#include "EnumNames.h"

#include <istream>
#include <ostream>
#include <string>

namespace Tesk {

namespace {

const EnumName<IResponse::Result> ResultNames[] = {
    ENUM_NAME(IResponse, Ok), ENUM_NAME(IResponse, ContentError), ENUM_NAME(IResponse, ServerError),
    ENUM_NAME(IResponse, NoConnection), ENUM_NAME(IResponse, IOError)};

} // namespace

void IResponse::OnProgress(qint64, qint64) {}

void IResponse::OnData(qint64) {}

std::ostream& operator<<(std::ostream& os, IResponse::Result result)
{
  return WriteName(os, result, ResultNames);
}

std::istream& operator>>(std::istream& is, IResponse::Result& result)
{
  std::string word;
  const auto state = is.rdstate();
  if (!(is >> word)) {
    // Leave the stream as it was when there was no word to read.
    is.clear(state);
    return is;
  }
  if (const auto value = ValueOf(word, ResultNames))
    result = *value;
  else
    is.clear(state);
  return is;
}

} // namespace Tesk
