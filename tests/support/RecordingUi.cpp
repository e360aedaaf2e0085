#include "RecordingUi.h"

namespace {
RecordingUi* g_instance = nullptr;
} // namespace

RecordingUi::RecordingUi()
{
  Ui::RegisterMetaTypes();
  g_instance = this;
}

RecordingUi::~RecordingUi()
{
  if (g_instance == this)
    g_instance = nullptr;
}

RecordingUi* RecordingUi::Instance()
{
  return g_instance;
}

void RecordingUi::Clear()
{
  calls.clear();
  states.clear();
}

void RecordingUi::SetState(State state)
{
  calls.push_back("SetState(" + Name(state) + ")");
  states.push_back(state);
}
