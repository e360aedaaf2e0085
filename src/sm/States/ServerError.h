#pragma once

#include "sm/States/NetworkFailure.h"

namespace States {

// The map-update service answered a check or a download with an error.
// Waits for the user's retry (which resumes the activity that failed) or
// cancel, or for the stick to be removed; it has only the reactions that
// both failure states share.
struct ServerError : NetworkFailure<ServerError>
{
  explicit ServerError(my_context ctx);
};

} // namespace States
