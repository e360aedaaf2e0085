#include "platform/ActivationPolicy.h"

long ActivationPolicy::Current() const
{
  return policy;
}

bool ActivationPolicy::Set(long newPolicy)
{
  if (newPolicy < Regular || newPolicy > Prohibited)
    return false;
  policy = newPolicy;
  return true;
}

ActivationPolicy& ActivationPolicy::Application()
{
  static ActivationPolicy application;
  return application;
}
