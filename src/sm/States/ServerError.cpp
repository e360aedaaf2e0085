#include "sm/States/ServerError.h"

#include "ui/IUi.h"

#include "Log.h"

namespace States {

ServerError::ServerError(my_context ctx) : NetworkFailure(ctx)
{
  LOG(Info) << "Entered ServerError state";
  context<Common>().GetUi()->SetState(State::ServerError);
}

} // namespace States
