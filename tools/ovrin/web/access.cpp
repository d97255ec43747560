#include "access.h"

namespace ovrin_tool {

bool TokenGate::Matches(const std::string& offered) const {
  // Every byte of the longer is looked at whatever the others hold.
  const std::size_t length = offered.size() > token_.size() ? offered.size() : token_.size();
  unsigned difference = offered.size() == token_.size() ? 0 : 1;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char a = i < offered.size() ? static_cast<unsigned char>(offered[i]) : 0;
    const unsigned char b = i < token_.size() ? static_cast<unsigned char>(token_[i]) : 0;
    difference |= static_cast<unsigned>(a ^ b);
  }
  return difference == 0 && !token_.empty();
}

void TokenGate::Forget(std::deque<Clock::time_point>& times, Clock::time_point now) {
  while (!times.empty() && now - times.front() > std::chrono::minutes(1)) times.pop_front();
}

void TokenGate::CountWrong(const std::string& address) {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::deque<Clock::time_point>& times = wrong_[address];
  Forget(times, Clock::now());
  times.push_back(Clock::now());
}

bool TokenGate::Limited(const std::string& address) {
  const std::lock_guard<std::mutex> lock(mutex_);
  auto found = wrong_.find(address);
  if (found == wrong_.end()) return false;
  Forget(found->second, Clock::now());
  if (found->second.empty()) {
    wrong_.erase(found);
    return false;
  }
  return found->second.size() >= kWrongPerMinute;
}

std::string CookieValue(const std::string& header, const std::string& name) {
  std::size_t start = 0;
  while (start < header.size()) {
    std::size_t end = header.find(';', start);
    if (end == std::string::npos) end = header.size();
    std::size_t first = header.find_first_not_of(' ', start);
    if (first < end && header.compare(first, name.size() + 1, name + "=") == 0) {
      return header.substr(first + name.size() + 1, end - first - name.size() - 1);
    }
    start = end + 1;
  }
  return "";
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.compare(0, 4, "127.") == 0;
}

}  // namespace ovrin_tool
