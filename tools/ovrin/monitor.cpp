#include <cstdio>

#include "commands.h"
#include "follow.h"
#include "output.h"

namespace ovrin_tool {
namespace {

// Writes every reading to the sink; with --reconnect, tells the user how the
// connection stands: on stderr, and in a JSON stream.
class Printer : public Follower {
 public:
  Printer(ReadingSink& sink, bool announce) : sink_(sink), announce_(announce) {}
  bool Take(const ovrin::Reading& reading) override { return sink_.Write(reading); }
  void Changed(const char* event, const std::string& port) override {
    if (!announce_) return;
    std::fprintf(stderr, "ovrin: %s%s%s\n", event, port.empty() ? "" : " ", port.c_str());
    sink_.WriteEvent(event, port);
  }

 private:
  ReadingSink& sink_;
  bool announce_;
};

}  // namespace

int Monitor(const Options& options, Listeners& listeners) {
  ReadingSink sink(options.format);
  if (!sink.Open(options.output)) {
    std::fprintf(stderr, "ovrin: %s\n", sink.Error().c_str());
    return kOutputFailed;
  }
  Printer printer(sink, options.reconnect);
  int result = Follow(options, listeners, printer);
  if (!sink.Close() && result == kOk) result = kOutputFailed;
  if (result == kOutputFailed) std::fprintf(stderr, "ovrin: %s\n", sink.Error().c_str());
  return result;
}

}  // namespace ovrin_tool
