#pragma once

#include <fstream>
#include <string>

// The process's peak resident memory in KiB, from /proc; -1 when unknown.
inline long PeakRssKib()
{
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0)
      return std::stol(line.substr(6));
  return -1;
}
