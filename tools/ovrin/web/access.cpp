#include "access.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "system.h"

namespace ovrin_tool {
namespace {

constexpr std::chrono::minutes kMinute{1};

// What an address's wrong tokens count under: an IPv6 address by its /64,
// the block one household or one machine gets and picks new addresses in at
// will; an IPv4 address (also when IPv6 carries it) by itself.
std::string LimitKey(const std::string& address) {
  unsigned char bytes[16];
  if (!Ipv6Bytes(address, bytes)) return address;
  static const unsigned char kMappedIpv4[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  char key[48];
  if (std::memcmp(bytes, kMappedIpv4, sizeof kMappedIpv4) == 0) {
    std::snprintf(key, sizeof key, "%u.%u.%u.%u", bytes[12], bytes[13], bytes[14], bytes[15]);
  } else {
    std::snprintf(key, sizeof key, "%02x%02x:%02x%02x:%02x%02x:%02x%02x::/64", bytes[0], bytes[1], bytes[2], bytes[3],
                  bytes[4], bytes[5], bytes[6], bytes[7]);
  }
  return key;
}

}  // namespace

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

void TokenGate::CountWrong(const std::string& address) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const Clock::time_point now = Clock::now();
  const std::string key = LimitKey(address);
  if (wrong_.count(key) == 0 && wrong_.size() >= kMaxAddresses) MakeRoom(now);
  Wrong& wrong = wrong_[key];
  wrong.times[wrong.count++ % kWrongPerMinute] = now;
}

bool TokenGate::Limited(const std::string& address) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = wrong_.find(LimitKey(address));
  if (found == wrong_.end()) return false;
  const Clock::time_point now = Clock::now();
  const Wrong& wrong = found->second;
  if (now - wrong.Last() > kMinute) {
    wrong_.erase(found);
    return false;
  }
  // The oldest of the last ten is the one the next wrong token replaces.
  return wrong.count >= kWrongPerMinute && now - wrong.times[wrong.count % kWrongPerMinute] <= kMinute;
}

std::size_t TokenGate::Counted() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return wrong_.size();
}

void TokenGate::MakeRoom(Clock::time_point now) {
  for (auto entry = wrong_.begin(); entry != wrong_.end();) {
    entry = now - entry->second.Last() > kMinute ? wrong_.erase(entry) : std::next(entry);
  }
  if (wrong_.size() < kMaxAddresses) return;
  auto quietest = wrong_.begin();
  for (auto entry = wrong_.begin(); entry != wrong_.end(); ++entry) {
    if (entry->second.Last() < quietest->second.Last()) quietest = entry;
  }
  wrong_.erase(quietest);
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
