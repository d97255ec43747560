#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <vector>

#include "commands.h"
#include "follow.h"
#include "sink.h"
#include "system.h"
#include "terminal_qr.h"
#include "web/access.h"
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

  bool Take(const NumberedReading& reading) override {
    log_.Add(reading);
    return file_ == nullptr || file_->Write(reading);
  }

  void Changed(const LinkChange& change) override {
    TellLinkState(change);
    log_.SetState(LinkStateJson(change, WallClockNs()));
    if (file_ != nullptr) file_->Write(change);
  }

  // The Measure button, on a request's thread.
  MeasureResult Measure() {
    return WithConnection([](OvrinComm* comm) {
      if (comm == nullptr) return MeasureResult::kNoMeter;
      return comm->DistanceMeasure() == 1 ? MeasureResult::kSent : MeasureResult::kFailed;
    });
  }

 private:
  ReadingLog& log_;
  ReadingSink* file_;
};

// The secret of the link when serving beyond loopback: from --token-file
// when it holds one (so that a link handed out stays good), else 128 new bits
// from the system's generator, which --token-file then keeps, readable by
// its owner only. False, with *error, when the file is not private, cannot
// be read or written, or no random bits came.
constexpr std::size_t kTokenHexDigits = 32;  // 128 bits

bool LinkToken(const std::string& path, std::string* token, std::string* error) {
  if (!path.empty()) {
    *error = SecretFileProblem(path);
    if (!error->empty()) return false;
    std::ifstream kept(path);
    std::getline(kept, *token);
    while (!token->empty() && std::isspace(static_cast<unsigned char>(token->back())) != 0) token->pop_back();
    if (!token->empty()) {
      if (token->find_first_not_of("0123456789abcdefABCDEF-_") != std::string::npos) {
        *error = "the token in \"" + path + "\" must be letters a-f, digits, - or _";
        return false;
      }
      // Each hex digit is 4 bits; - and _ only part them. No file may make
      // the link weaker than the token serve writes.
      const std::size_t hexDigits =
          token->size() - std::count_if(token->begin(), token->end(), [](char c) { return c == '-' || c == '_'; });
      if (hexDigits >= kTokenHexDigits) return true;
      *error = "the token in \"" + path +
               "\" is too weak: it needs 32 or more hex digits (128 bits); delete the file " +
               "and serve writes a good one into it";
      return false;
    }
  }
  unsigned char bits[kTokenHexDigits / 2];
  if (!RandomBytes(bits, sizeof bits)) {
    *error = "the system's random generator gave nothing for the token";
    return false;
  }
  token->clear();
  for (const unsigned char byte : bits) {
    static const char kHex[] = "0123456789abcdef";
    *token += kHex[byte >> 4];
    *token += kHex[byte & 15];
  }
  if (path.empty() || WriteSecretFile(path, *token + "\n")) return true;
  *error = "cannot write the token to \"" + path + "\"";
  return false;
}

// Where to open the page: the URL, or, beyond loopback, one link with the
// token for every address of this machine and a QR code of the first.
void PrintWhereToOpen(const Options& options, const WebServer& server, const std::string& token) {
  if (token.empty()) {
    std::printf("ovrin: open %s in a browser; Ctrl-C ends\n", server.Url().c_str());
    return;
  }
  std::vector<std::string> links;
  for (const std::string& address : ReachableAddresses(options.listenHost)) {
    std::string link = "http://";
    link += address;
    link += ":" + std::to_string(server.Port());
    link += "/?token=" + token;
    links.push_back(link);
  }
  if (links.empty()) links.push_back(server.Url() + "?token=" + token);
  std::printf("ovrin: open this link on a phone or tablet on this network (anyone with it can measure); Ctrl-C ends\n");
  for (const std::string& link : links) std::printf("  %s\n", link.c_str());
  std::printf("%s", TerminalQr(links.front()).c_str());
}

// Serves the page while the run follows the meter.
int ServeInto(const Options& options, Listeners& listeners, ReadingSink* file) {
  ReadingLog log;
  Publisher publisher(log, file);
  std::string token;
  std::string error;
  if (!IsLoopback(options.listenHost) && !LinkToken(options.tokenFile, &token, &error)) {
    std::fprintf(stderr, "ovrin: %s\n", error.c_str());
    return kOutputFailed;
  }
  WebServer server(
      log, [&publisher] { return publisher.Measure(); }, token);
  if (!server.Bind(options.listenHost, options.listenPort, &error)) {
    std::fprintf(stderr, "ovrin: %s\n", error.c_str());
    return kCannotListen;
  }
  server.Start();
  PrintWhereToOpen(options, server, token);
  std::fflush(stdout);
  const int result = Follow(options, listeners, publisher);
  server.Stop();
  return result;
}

}  // namespace

int Serve(const Options& options, Listeners& listeners) {
  return WithSink(options, SinkUse::kOnlyAFile, [&](ReadingSink* file) { return ServeInto(options, listeners, file); });
}

}  // namespace ovrin_tool
