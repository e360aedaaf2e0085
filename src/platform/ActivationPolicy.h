#pragma once

// The application's activation policy: whether it shows an icon in the dock
// (the task bar) and windows of its own.
class ActivationPolicy
{
public:
  enum Policy : long
  {
    Regular = 0,    // a dock icon and a menu bar
    Accessory = 1,  // no dock icon; may still show windows
    Prohibited = 2, // no dock icon and no windows of its own
  };

  virtual ~ActivationPolicy() = default;

  virtual long Current() const;
  // False when the policy is refused.
  virtual bool Set(long policy);

  // The application's own policy, held for the process; starts Regular.
  static ActivationPolicy& Application();

private:
  long policy = Regular;
};
