#include <cstdio>
#include <mutex>

#include "commands.h"
#include "follow.h"
#include "output.h"
#include "web/reading_log.h"
#include "web/server.h"

namespace ovrin_tool {
namespace {

// Hands the run to the page: every reading into the log (and the --output
// file), every change of the connection as its state, and the open
// connection to the Measure button.
class Publisher : public Follower {
 public:
  Publisher(ReadingLog& log, ReadingSink* file) : log_(log), file_(file) {}

  bool Take(const ovrin::Reading& reading) override {
    log_.Add(reading);
    return file_ == nullptr || file_->Write(reading);
  }

  void Changed(const char* event, const std::string& port) override {
    // A search after a lost link is the page's "reconnecting".
    const std::string state = std::string(event) == "searching" && lost_ ? "reconnecting" : event;
    if (state == "lost" || state == "connected") lost_ = state == "lost";
    std::fprintf(stderr, "ovrin: %s%s%s\n", state.c_str(), port.empty() ? "" : " ", port.c_str());
    log_.SetState(StateJson(state, port, WallClockNs()));
    if (file_ != nullptr) file_->WriteEvent(event, port);
  }

  void Attach(OvrinComm* comm) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    comm_ = comm;
  }

  // The Measure button, on a request's thread; the connection is not closed
  // while a command is being sent on it.
  MeasureResult Measure() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (comm_ == nullptr) return MeasureResult::kNoMeter;
    return comm_->DistanceMeasure() == 1 ? MeasureResult::kSent : MeasureResult::kFailed;
  }

 private:
  ReadingLog& log_;
  ReadingSink* file_;
  bool lost_ = false;
  std::mutex mutex_;
  OvrinComm* comm_ = nullptr;
};

}  // namespace

int Serve(const Options& options, Listeners& listeners) {
  ReadingSink file(options.format);
  if (!options.output.empty() && !file.Open(options.output)) {
    std::fprintf(stderr, "ovrin: %s\n", file.Error().c_str());
    return kOutputFailed;
  }
  ReadingLog log;
  Publisher publisher(log, options.output.empty() ? nullptr : &file);
  WebServer server(log, [&publisher] { return publisher.Measure(); });
  std::string error;
  if (!server.Bind(options.listenHost, options.listenPort, &error)) {
    std::fprintf(stderr, "ovrin: %s\n", error.c_str());
    return kCannotListen;
  }
  server.Start();
  std::printf("ovrin: open %s in a browser; Ctrl-C ends\n", server.Url().c_str());
  std::fflush(stdout);
  int result = Follow(options, listeners, publisher);
  server.Stop();
  if (!options.output.empty() && !file.Close() && result == kOk) result = kOutputFailed;
  if (result == kOutputFailed) std::fprintf(stderr, "ovrin: %s\n", file.Error().c_str());
  return result;
}

}  // namespace ovrin_tool
