#include "sm/States/UsbCheck.h"

#include "sm/States/MapUpdateCheck.h"
#include "sm/States/MetadataCorrupt.h"
#include "sm/States/RootUpdate.h"
#include "ui/IUi.h"

#include "Log.h"

namespace States {

UsbCheck::UsbCheck(my_context ctx) : my_base(ctx)
{
  LOG(Info) << "Entered UsbCheck state";
  context<Common>().GetUi()->SetState(State::UsbCheck);
}

boost::statechart::result UsbCheck::react(const Events::InvalidMetadata&)
{
  LOG(Info) << "Got InvalidMetadata event: switching to MetadataCorrupt state";
  return transit<MetadataCorrupt>();
}

boost::statechart::result UsbCheck::react(const Events::NoMetadata&)
{
  LOG(Info) << "Got NoMetadata event: switching to RootUpdate state";
  return transit<RootUpdate>();
}

boost::statechart::result UsbCheck::react(const Events::ValidMetadata&)
{
  LOG(Info) << "Got ValidMetadata event: switching to MapUpdateCheck state";
  return transit<MapUpdateCheck>();
}

boost::statechart::result UsbCheck::react(const Events::UsbRemove&)
{
  LOG(Info) << "Got UsbRemove event: switching to MapUpdateCheck state";
  context<Common>().GetUi()->SetState(State::UsbRemoved);
  return transit<MapUpdateCheck>();
}

boost::statechart::result UsbCheck::react(const Events::Quit&)
{
  LOG(Info) << "Got Quit event: confirming application quit";
  context<Common>().GetUi()->ConfirmQuit();
  return discard_event();
}

} // namespace States
