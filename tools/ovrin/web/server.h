// The HTTP side of `ovrin serve`: the page, the readings as JSON, CSV and a
// stream of server-sent events, and the Measure button's request.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "access.h"
#include "reading_log.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace ovrin_tool {

// What a Measure request came to.
enum class MeasureResult { kSent, kNoMeter, kFailed };

class WebServer {
 public:
  static constexpr int kMaxStreams = 32;  // event streams at once; more get 503

  // Serves `log`; `measure` answers the Measure button, on a request thread.
  // With a token, every request must hold it (in the link, its cookie or a
  // Bearer header) and any Host is answered; without one, only requests to
  // this machine's own names are (loopback).
  WebServer(ReadingLog& log, std::function<MeasureResult()> measure, const std::string& token);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds host:port (0: any free port). False, with *error, when it cannot.
  bool Bind(const std::string& host, int port, std::string* error);
  // Serves on a thread of its own until Stop.
  void Start();
  // Closes the log, which ends every stream, and waits for the requests and
  // the thread to end.
  void Stop();

  // Where the page is: "http://127.0.0.1:8070/" (an IPv6 host in brackets).
  std::string Url() const;
  int Port() const { return port_; }

 private:
  void Route();
  bool HostAllowed(const std::string& host) const;
  // False, with the answer in res, for a request without the token.
  bool Admit(const httplib::Request& req, httplib::Response& res);
  // The cookie that carries the token, named for the port: a browser keeps
  // one cookie of a name for every port of a host.
  std::string CookieName() const;

  ReadingLog& log_;
  std::function<MeasureResult()> measure_;
  TokenGate gate_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::string host_;  // as the URL names it
  int port_ = 0;
  std::shared_ptr<std::atomic<int>> streams_;  // outlives a stream's last write
};

}  // namespace ovrin_tool
