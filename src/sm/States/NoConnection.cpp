#include "sm/States/NoConnection.h"

#include "sm/States/MetadataCorrupt.h"
#include "sm/States/UsbCheck.h"
#include "ui/IUi.h"

#include "Log.h"

namespace States {

NoConnection::NoConnection(my_context ctx) : NetworkFailure(ctx)
{
  LOG(Info) << "Entered NoConnection state";
  context<Common>().GetUi()->SetState(State::NoConnection);
}

boost::statechart::result NoConnection::react(const Events::UsbInsert&)
{
  LOG(Info) << "Got UsbInsert event: switching to UsbCheck state";
  return transit<UsbCheck>();
}

boost::statechart::result NoConnection::react(const Events::InvalidMetadata&)
{
  LOG(Info) << "Got InvalidMetadata event: switching to MetadataCorrupt state";
  return transit<MetadataCorrupt>();
}

} // namespace States
