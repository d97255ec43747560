#include "commands.h"
#include "follow.h"
#include "sink.h"

namespace ovrin_tool {
namespace {

// Writes every reading to the sink; with --reconnect, tells the user how the
// link stands: on stderr, and in a JSON stream.
class Printer : public Follower {
 public:
  Printer(ReadingSink& sink, bool announce) : sink_(sink), announce_(announce) {}
  bool Take(const NumberedReading& reading) override { return sink_.Write(reading); }
  void Changed(LinkState state, const std::string& port) override {
    if (!announce_) return;
    TellLinkState(state, port);
    sink_.Write(state, port);
  }

 private:
  ReadingSink& sink_;
  bool announce_;
};

}  // namespace

int Monitor(const Options& options, Listeners& listeners) {
  return WithSink(options, SinkUse::kStdout, [&](ReadingSink* sink) -> int {
    Printer printer(*sink, options.reconnect);
    return Follow(options, listeners, printer);
  });
}

}  // namespace ovrin_tool
