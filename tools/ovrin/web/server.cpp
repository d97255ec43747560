#include "server.h"

#include <cctype>
#include <chrono>
#include <cstdlib>

#include "format.h"

// Limits on what a request may send: its request line, each header line and
// its body; a request beyond them gets a 4xx and nothing is kept of it.
#define CPPHTTPLIB_REQUEST_URI_MAX_LENGTH 2048
#define CPPHTTPLIB_HEADER_MAX_LENGTH 4096
#define CPPHTTPLIB_USE_POLL
#include <httplib.h>

namespace ovrin_tool {

extern const char kPage[];  // page.html, built in

namespace {

constexpr std::size_t kMaxBody = 1024;
constexpr std::size_t kMaxHeaders = 64;
// Threads for requests: every event stream holds one, and a few more answer
// the rest while the streams are all open.
constexpr std::size_t kRequestThreads = WebServer::kMaxStreams + 8;
// How often a quiet stream sends a comment: a client that went away is found
// at the next write.
constexpr std::chrono::seconds kStreamKeepAlive{5};
constexpr std::size_t kBatch = 1000;  // readings written to a stream at once

constexpr char kAskForTheLink[] =
    "<!doctype html><meta charset=utf-8><meta name=viewport content=\"width=device-width\">"
    "<title>ovrin serve</title><p>This page is for those who were given its link. Open the link that "
    "<code>ovrin serve</code> printed (it ends in <code>?token=</code>&hellip;), or scan its QR code.";

void Reply(httplib::Response& res, int status, const std::string& json) {
  res.status = status;
  res.set_content(json, "application/json");
}

void Refuse(httplib::Response& res, int status, const std::string& why) {
  Reply(res, status, "{\"error\":\"" + JsonEscape(why.data(), why.size()) + "\"}");
}

bool StartsWithNoCase(const std::string& text, const std::string& start) {
  if (text.size() < start.size()) return false;
  for (std::size_t i = 0; i < start.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != start[i]) return false;
  }
  return true;
}

// A seq from a query or Last-Event-ID: decimal digits only; false otherwise.
bool ParseSeq(const std::string& text, std::uint64_t* seq) {
  if (text.empty() || text.size() > 19) return false;
  for (const char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
  }
  *seq = std::strtoull(text.c_str(), nullptr, 10);
  return true;
}

// The seq a client asks to start after (?after=N, or the stream's
// Last-Event-ID when it reconnects); false for a malformed one.
bool RequestedAfter(const httplib::Request& req, std::uint64_t* after) {
  *after = 0;
  if (req.has_param("after") && !ParseSeq(req.get_param_value("after"), after)) return false;
  std::uint64_t lastEvent = 0;
  if (req.has_header("Last-Event-ID")) {
    if (!ParseSeq(req.get_header_value("Last-Event-ID"), &lastEvent)) return false;
    if (lastEvent > *after) *after = lastEvent;
  }
  return true;
}

// Counts an open event stream for as long as it lives.
class StreamSlot {
 public:
  explicit StreamSlot(std::shared_ptr<std::atomic<int>> streams) : streams_(std::move(streams)) {}
  ~StreamSlot() { --*streams_; }
  StreamSlot(const StreamSlot&) = delete;
  StreamSlot& operator=(const StreamSlot&) = delete;

 private:
  std::shared_ptr<std::atomic<int>> streams_;
};

std::string EventsText(const LogNews& news) {
  std::string text;
  if (!news.state.empty()) text += "event: state\ndata: " + news.state + "\n\n";
  for (const NumberedReading& entry : news.readings) {
    text +=
        "event: reading\nid: " + std::to_string(entry.seq) + "\ndata: " + FormatReading(entry, Format::kJson) + "\n\n";
  }
  return text.empty() ? ": still here\n\n" : text;
}

}  // namespace

WebServer::WebServer(ReadingLog& log, std::function<MeasureResult()> measure, const std::string& token)
    : log_(log),
      measure_(std::move(measure)),
      gate_(token),
      server_(std::make_unique<httplib::Server>()),
      streams_(std::make_shared<std::atomic<int>>(0)) {
  server_->new_task_queue = [] { return new httplib::ThreadPool(kRequestThreads); };
  server_->set_payload_max_length(kMaxBody);
  server_->set_read_timeout(5, 0);
  server_->set_write_timeout(5, 0);
  server_->set_keep_alive_timeout(2);
  server_->set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"Referrer-Policy", "no-referrer"}});
  Route();
}

WebServer::~WebServer() { Stop(); }

bool WebServer::Bind(const std::string& host, int port, std::string* error) {
  port_ = port == 0 ? server_->bind_to_any_port(host) : (server_->bind_to_port(host, port) ? port : -1);
  if (port_ <= 0) {
    *error = "cannot listen on " + host + ":" + std::to_string(port) + " (in use, or not an address of this machine)";
    return false;
  }
  host_ = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return true;
}

void WebServer::Start() {
  thread_ = std::thread([this] { server_->listen_after_bind(); });
}

void WebServer::Stop() {
  if (!thread_.joinable()) return;
  log_.Close();
  server_->stop();
  thread_.join();
}

std::string WebServer::Url() const { return "http://" + host_ + ":" + std::to_string(port_) + "/"; }

bool WebServer::HostAllowed(const std::string& host) const {
  const std::string port = ":" + std::to_string(port_);
  for (const std::string& name : {host_, std::string("localhost"), std::string("127.0.0.1")}) {
    if (host == name + port || (port_ == 80 && host == name)) return true;
  }
  return false;
}

bool WebServer::Admit(const httplib::Request& req, httplib::Response& res) {
  std::string offered;
  const bool inLink = req.has_param("token");
  const std::string authorization = req.get_header_value("Authorization");
  const bool inHeader = !inLink && authorization.compare(0, 7, "Bearer ") == 0;
  if (inLink) {
    offered = req.get_param_value("token");
  } else if (inHeader) {
    offered = authorization.substr(7);
  } else {
    offered = CookieValue(req.get_header_value("Cookie"), CookieName());
  }
  // The right token always gets in, whatever the count: the limit on wrong
  // tokens must not shut out the link the user was given. So it cannot slow
  // guessing (a right guess gets in, a wrong one learns nothing more either
  // way); 128 bits of token are what make guessing hopeless. The limit only
  // spares the server an address that sends wrong tokens without end.
  if (!offered.empty() && gate_.Matches(offered)) {
    if (!inLink) return true;
    // From now on the cookie carries the token, and the address bar does not.
    res.set_header("Set-Cookie", CookieName() + "=" + offered + "; HttpOnly; SameSite=Strict; Path=/");
    res.set_redirect(req.path, 303);
    return false;
  }
  // A wrong cookie is one an earlier run of serve on this port set: a page
  // still open from then sends it again and again, and is no guess.
  if ((inLink || inHeader) && !offered.empty()) {
    if (gate_.Limited(req.remote_addr)) {
      res.set_header("Retry-After", "60");
      Refuse(res, 429, "too many wrong tokens from this address: try again in a minute");
      return false;
    }
    gate_.CountWrong(req.remote_addr);
  }
  res.status = 401;
  res.set_content(kAskForTheLink, "text/html; charset=utf-8");
  return false;
}

std::string WebServer::CookieName() const { return "ovrin_token_" + std::to_string(port_); }

void WebServer::Route() {
  httplib::Server& server = *server_;
  // Every request first: a page from another site that a DNS name of its own
  // points at this machine still names that site in Host, and is refused.
  server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (req.headers.size() > kMaxHeaders) {
      Refuse(res, 431, "too many header fields");
    } else if (gate_.Enabled()) {
      // Beyond loopback the token guards, and any Host may carry it: a page
      // of another site has neither the cookie nor the token.
      return Admit(req, res) ? httplib::Server::HandlerResponse::Unhandled : httplib::Server::HandlerResponse::Handled;
    } else if (!HostAllowed(req.get_header_value("Host"))) {
      Refuse(res, 403, "this server answers only to " + host_ + ":" + std::to_string(port_) + " and localhost");
    } else {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    return httplib::Server::HandlerResponse::Handled;
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) Refuse(res, res.status, res.status == 404 ? "no such page" : "bad request");
  });
  server.set_exception_handler([](const httplib::Request&, httplib::Response& res, const std::exception_ptr&) {
    Refuse(res, 500, "the server failed");
  });

  server.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kPage, "text/html; charset=utf-8");
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data:; "
                   "connect-src 'self'; form-action 'none'; frame-ancestors 'none'");
  });

  server.Get("/api/readings", [this](const httplib::Request& req, httplib::Response& res) {
    std::uint64_t after = 0;
    if (!RequestedAfter(req, &after)) return Refuse(res, 400, "after must be a seq: digits only");
    std::string json = "{\"state\":" + log_.State() + ",\"readings\":[";
    bool first = true;
    for (const NumberedReading& entry : log_.After(after, ReadingLog::kDefaultCapacity)) {
      json += (first ? "" : ",") + FormatReading(entry, Format::kJson);
      first = false;
    }
    Reply(res, 200, json + "]}");
  });

  server.Get("/readings.csv", [this](const httplib::Request&, httplib::Response& res) {
    std::string csv = std::string(kCsvHeader) + "\r\n";
    for (const NumberedReading& entry : log_.After(0, ReadingLog::kDefaultCapacity)) {
      csv += FormatReading(entry, Format::kCsv) + "\r\n";
    }
    res.set_content(csv, "text/csv; charset=utf-8");
    res.set_header("Content-Disposition", "attachment; filename=\"readings.csv\"");
  });

  server.Get("/events", [this](const httplib::Request& req, httplib::Response& res) {
    std::uint64_t after = 0;
    if (!RequestedAfter(req, &after)) return Refuse(res, 400, "after must be a seq: digits only");
    if (++*streams_ > kMaxStreams) {
      --*streams_;
      return Refuse(res, 503, "too many event streams: at most " + std::to_string(kMaxStreams));
    }
    auto slot = std::make_shared<StreamSlot>(streams_);
    auto cursor = std::make_shared<std::uint64_t>(after);
    auto stateVersion = std::make_shared<std::uint64_t>(0);
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream", [this, slot, cursor, stateVersion](std::size_t, httplib::DataSink& sink) {
          const LogNews news = log_.Wait(cursor.get(), stateVersion.get(), kStreamKeepAlive, kBatch);
          const std::string text = EventsText(news);
          if (!sink.write(text.data(), text.size())) return false;
          if (news.closed && news.readings.empty()) sink.done();
          return true;
        });
  });

  server.Post("/api/measure", [this](const httplib::Request& req, httplib::Response& res) {
    // Only the page itself may measure: a form or script of another site
    // cannot send this origin, and a JSON body needs a preflight it fails.
    if (req.get_header_value("Origin") != "http://" + req.get_header_value("Host")) {
      return Refuse(res, 403, "a measure request must come from this server's page");
    }
    if (!StartsWithNoCase(req.get_header_value("Content-Type"), "application/json")) {
      return Refuse(res, 415, "a measure request is JSON");
    }
    switch (measure_()) {
      case MeasureResult::kSent:
        return Reply(res, 202, "{\"sent\":true}");
      case MeasureResult::kNoMeter:
        return Refuse(res, 503, "no meter is connected");
      case MeasureResult::kFailed:
        return Refuse(res, 502, "the measure command could not be sent");
    }
  });
  server.Get("/api/measure", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Allow", "POST");
    Refuse(res, 405, "measure with POST");
  });
}

}  // namespace ovrin_tool
