// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <bcrypt.h>
#include <iphlpapi.h>
#include <sddl.h>
// clang-format on
#include <io.h>

#include <vector>

#include "system.h"

namespace ovrin_tool {
namespace {

volatile LONG gInterrupted = 0;

// Ctrl-C, Ctrl-Break and closing the console arrive on a thread of their own.
BOOL WINAPI OnConsoleControl(DWORD) {
  InterlockedExchange(&gInterrupted, 1);
  return TRUE;
}

}  // namespace

void CatchInterrupts() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }
bool Interrupted() { return InterlockedCompareExchange(&gInterrupted, 0, 0) != 0; }
void Interrupt() { InterlockedExchange(&gInterrupted, 1); }

void SleepMs(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }
bool WriteText(std::FILE* stream, const std::string& text) {
  const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (console == INVALID_HANDLE_VALUE || GetConsoleMode(console, &mode) == 0) {
    return std::fputs(text.c_str(), stream) >= 0;  // a pipe or a file: UTF-8
  }
  std::fflush(stream);  // what the C library still holds goes first
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], length);
  DWORD written = 0;
  return length == 0 || WriteConsoleW(console, wide.data(), static_cast<DWORD>(length), &written, nullptr) != 0;
}

bool StdinIsTerminal() { return _isatty(_fileno(stdin)) != 0; }
bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
bool SyncFile(std::FILE* file) { return _commit(_fileno(file)) == 0 || _isatty(_fileno(file)) != 0; }

// What Windows knows of a port is its SERIALCOMM entry, which the search order
// already gives.
std::vector<std::pair<std::string, std::string>> PortDetails(const std::string&) { return {}; }

// A COM port has no per-user rights to give: "access denied" means it is in use.
std::string PermissionHint(const std::string&) { return ""; }

// The file that is written gets rights of its own (below); a file that is
// read keeps those its owner gave it.
std::string SecretFileProblem(const std::string&) { return ""; }

// The SDDL of one access rule, the user's own, and none inherited from the
// folder, which may be shared (C:\ovrin, a network drive). Empty when the
// user is not known.
std::wstring UserOnly() {
  HANDLE process = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process) == 0) return L"";
  DWORD size = 0;
  GetTokenInformation(process, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  LPWSTR sid = nullptr;
  const bool known = size != 0 && GetTokenInformation(process, TokenUser, user.data(), size, &size) != 0 &&
                     ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid) != 0;
  CloseHandle(process);
  if (!known) return L"";
  std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
  LocalFree(sid);
  return sddl;
}

// The rule is set before the token goes in, on a file that was there too.
bool WriteSecretFile(const std::string& path, const std::string& text) {
  PSECURITY_DESCRIPTOR userOnly = nullptr;
  const std::wstring sddl = UserOnly();
  if (sddl.empty() ||
      ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &userOnly, nullptr) == 0) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, userOnly, FALSE};
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE | WRITE_DAC, 0, &attributes, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  bool written = false;
  if (file != INVALID_HANDLE_VALUE) {
    DWORD done = 0;
    written =
        SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, userOnly) != 0 &&
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) != 0 && done == text.size();
    written = CloseHandle(file) != 0 && written;
  }
  LocalFree(userOnly);
  return written;
}

bool Ipv6Bytes(const std::string& text, unsigned char (&bytes)[16]) {
  return inet_pton(AF_INET6, text.substr(0, text.find('%')).c_str(), bytes) == 1;
}

bool RandomBytes(unsigned char* bytes, std::size_t count) {
  return BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

std::vector<std::string> ReachableAddresses(const std::string& host) {
  if (host != "0.0.0.0" && host != "::") return {host.find(':') != std::string::npos ? "[" + host + "]" : host};
  std::vector<std::string> found;
  ULONG size = 16384;
  std::vector<unsigned char> buffer(size);
  auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
  const ULONG family = host == "::" ? AF_UNSPEC : AF_INET;
  if (GetAdaptersAddresses(family, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER, nullptr,
                           adapters, &size) != NO_ERROR) {
    return found;
  }
  for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter != nullptr; adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const sockaddr* address = unicast->Address.lpSockaddr;
      char text[INET6_ADDRSTRLEN] = {};
      if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
        found.emplace_back(text);
      } else if (address->sa_family == AF_INET6) {
        const IN6_ADDR& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (IN6_IS_ADDR_LINKLOCAL(&v6)) continue;
        inet_ntop(AF_INET6, &v6, text, sizeof text);
        found.push_back("[" + std::string(text) + "]");
      }
    }
  }
  return found;
}

}  // namespace ovrin_tool
