// Who may use the page when `serve` listens beyond loopback: those who hold
// the secret token of the link it printed. The first request with the token
// gets a cookie that carries it from then on; scripts send it as a Bearer
// header. Wrong tokens are limited per client address.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace ovrin_tool {

class TokenGate {
 public:
  static constexpr const char* kCookie = "ovrin_token";
  static constexpr std::size_t kWrongPerMinute = 10;

  // An empty token: no gate (loopback, where Host and Origin guard instead).
  explicit TokenGate(std::string token) : token_(std::move(token)) {}

  bool Enabled() const { return !token_.empty(); }
  // Compares in time that does not depend on where the two differ.
  bool Matches(const std::string& offered) const;
  // Counts a wrong token from `address`.
  void CountWrong(const std::string& address);
  // True once `address` has sent kWrongPerMinute wrong tokens within
  // the last minute.
  bool Limited(const std::string& address);

 private:
  using Clock = std::chrono::steady_clock;
  void Forget(std::deque<Clock::time_point>& times, Clock::time_point now);

  std::string token_;
  std::mutex mutex_;
  std::map<std::string, std::deque<Clock::time_point>> wrong_;
};

// The value of cookie `name` in a Cookie header, or "".
std::string CookieValue(const std::string& header, const std::string& name);

// Whether `host` (as --listen gives it) is this machine only.
bool IsLoopback(const std::string& host);

}  // namespace ovrin_tool
