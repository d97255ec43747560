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
  void Changed(const LinkChange& change) override {
    if (!announce_) return;
    TellLinkState(change);
    sink_.Write(change);
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
