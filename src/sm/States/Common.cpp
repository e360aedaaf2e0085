#include "sm/States/Common.h"

#include "Log.h"

namespace States {

Common::Common(my_context context) : my_base(context)
{
  LOG(Info) << "Entered Common state";
}

Common::~Common()
{
  LOG(Info) << "Left Common state";
}

} // namespace States
