#include "terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace ovrin_sim {

MeterTerminal::MeterTerminal() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    Close();
    throw std::runtime_error("no pseudo-terminal");
  }
  path_ = ptsname(master_);
  keepOpen_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios raw{};
  if (keepOpen_ < 0 || tcgetattr(keepOpen_, &raw) != 0) {
    Close();
    throw std::runtime_error("pseudo-terminal " + path_ + " cannot be set up");
  }
  cfmakeraw(&raw);
  tcsetattr(keepOpen_, TCSANOW, &raw);
}

MeterTerminal::~MeterTerminal() { Close(); }

void MeterTerminal::Close() {
  if (keepOpen_ >= 0) close(keepOpen_);
  if (master_ >= 0) close(master_);
  keepOpen_ = master_ = -1;
}

}  // namespace ovrin_sim
