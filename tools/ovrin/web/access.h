// Who may use the page when `serve` listens beyond loopback: those who hold
// the secret token of the link it printed. The first request with the token
// gets a cookie that carries it from then on; scripts send it as a Bearer
// header. Wrong tokens are limited per client address.
#pragma once

#include <array>
#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace ovrin_tool {

class TokenGate {
 public:
  static constexpr std::size_t kWrongPerMinute = 10;
  // Addresses (an IPv6 one by its /64) whose wrong tokens are counted at
  // once; past it the one longest quiet is forgotten.
  static constexpr std::size_t kMaxAddresses = 4096;

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
  // How many addresses are counted now.
  std::size_t Counted();

 private:
  using Clock = std::chrono::steady_clock;
  // The times of an address's last kWrongPerMinute wrong tokens, in a ring.
  struct Wrong {
    std::array<Clock::time_point, kWrongPerMinute> times;
    std::size_t count = 0;
    Clock::time_point Last() const { return times[(count - 1) % kWrongPerMinute]; }
  };
  void MakeRoom(Clock::time_point now);

  std::string token_;
  std::mutex mutex_;
  std::map<std::string, Wrong> wrong_;
};

// The value of cookie `name` in a Cookie header, or "".
std::string CookieValue(const std::string& header, const std::string& name);

// Whether `host` (as --listen gives it) is this machine only.
bool IsLoopback(const std::string& host);

}  // namespace ovrin_tool
