// The meter's end of a pseudo-terminal: the host opens the terminal's device
// path as its serial port, the meter reads and writes the other end.
#pragma once

#include <string>

namespace ovrin_sim {

class MeterTerminal {
 public:
  // Opens a new pseudo-terminal, raw from the start so that nothing echoes.
  // Throws std::runtime_error when none can be had.
  MeterTerminal();
  ~MeterTerminal();
  MeterTerminal(const MeterTerminal&) = delete;
  MeterTerminal& operator=(const MeterTerminal&) = delete;

  // The device path the host opens.
  const std::string& Path() const { return path_; }
  // The meter's end: what the host writes is read here, what is written here
  // the host reads.
  int Fd() const { return master_; }
  // The meter goes away: its end closes and the host's end hangs up.
  void Close();

 private:
  std::string path_;
  int master_ = -1;
  // The meter holds the host's end open as well: a host closing its port
  // then never hangs the terminal up, and what the meter sent meanwhile waits.
  int keepOpen_ = -1;
};

}  // namespace ovrin_sim
