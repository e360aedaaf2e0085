#pragma once

#include <stdexcept>
#include <string>

namespace Tesk {

// A reply or a metadata document that cannot be used: not well-formed, too
// large or too deeply nested, without a required element, or with a value
// that does not fit its field. The only exception the reply models throw.
class ContentError : public std::runtime_error
{
public:
  explicit ContentError(const std::string& what) : std::runtime_error(what) {}
};

} // namespace Tesk
