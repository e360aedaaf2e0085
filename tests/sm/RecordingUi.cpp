#include "RecordingUi.h"

#include <algorithm>

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

int RecordingUi::Count(const std::string& call) const
{
  return static_cast<int>(std::count(calls_.begin(), calls_.end(), call));
}

void RecordingUi::Clear()
{
  calls_.clear();
  states_.clear();
}

void RecordingUi::Activate()
{
  calls_.push_back("Activate");
}

void RecordingUi::SetState(State state)
{
  calls_.push_back("SetState(" + Name(state) + ")");
  states_.push_back(state);
}

void RecordingUi::UpdateUsbs()
{
  calls_.push_back("UpdateUsbs");
}

void RecordingUi::ConfirmQuit()
{
  calls_.push_back("ConfirmQuit");
}
