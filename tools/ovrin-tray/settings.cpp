#include "settings.h"

// clang-format off
#include <windows.h>
#include <shlobj.h>
// clang-format on
#include <io.h>

#include <cstdio>

#include "text.h"

namespace ovrin_tray {
namespace {

constexpr wchar_t kKey[] = L"Software\\Ovrin70\\Tray";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunValue[] = L"Ovrin70 Tray";

std::string ReadString(const wchar_t* key, const wchar_t* name, const std::string& fallback) {
  wchar_t value[1024];
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
    return fallback;
  }
  return Utf8(value);
}

bool WriteString(const wchar_t* key, const wchar_t* name, const std::string& text) {
  const std::wstring value = Wide(text);
  return RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_SZ, value.c_str(),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Runs ParseOptions on args, with what it prints (to stdout and stderr)
// caught into *printed: a program without a console shows it in a box.
int Parse(std::vector<std::string> args, ovrin_tool::Options* options, std::string* printed) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  wchar_t folder[MAX_PATH];
  wchar_t name[MAX_PATH];
  std::FILE* caught = nullptr;
  if (GetTempPathW(MAX_PATH, folder) != 0 && GetTempFileNameW(folder, L"ovr", 0, name) != 0) {
    caught = _wfopen(name, L"w+b");
  }
  std::fflush(stdout);
  std::fflush(stderr);
  const int savedOut = _dup(1);
  const int savedErr = _dup(2);
  if (caught != nullptr) {
    _dup2(_fileno(caught), 1);
    _dup2(_fileno(caught), 2);
  }
  const int result = ovrin_tool::ParseOptions(static_cast<int>(argv.size()), argv.data(), options);
  std::fflush(stdout);
  std::fflush(stderr);
  for (const auto& [saved, fd] : {std::pair<int, int>{savedOut, 1}, {savedErr, 2}}) {
    if (saved >= 0) {
      _dup2(saved, fd);
      _close(saved);
    }
  }
  if (caught != nullptr) {
    std::rewind(caught);
    char chunk[512];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, caught)) > 0;) printed->append(chunk, got);
    std::fclose(caught);
    DeleteFileW(name);
  }
  return result;
}

}  // namespace

TraySettings LoadSettings() {
  TraySettings settings;
  settings.scale = ReadString(kKey, L"Scale", settings.scale);
  settings.decimals = ReadString(kKey, L"Decimals", settings.decimals);
  settings.separator = ReadString(kKey, L"DecimalSeparator", settings.separator);
  settings.then = ReadString(kKey, L"Then", settings.then);
  settings.measureKey = ReadString(kKey, L"MeasureKey", settings.measureKey);
  settings.log = ReadString(kKey, L"Log", settings.log);
  settings.sound = ReadString(kKey, L"Sound", "0") == "1";
  settings.typing = ReadString(kKey, L"Typing", "1") == "1";
  return settings;
}

bool SaveSettings(const TraySettings& settings) {
  return WriteString(kKey, L"Scale", settings.scale) && WriteString(kKey, L"Decimals", settings.decimals) &&
         WriteString(kKey, L"DecimalSeparator", settings.separator) && WriteString(kKey, L"Then", settings.then) &&
         WriteString(kKey, L"MeasureKey", settings.measureKey) && WriteString(kKey, L"Log", settings.log) &&
         WriteString(kKey, L"Sound", settings.sound ? "1" : "0") &&
         WriteString(kKey, L"Typing", settings.typing ? "1" : "0");
}

bool MakeOptions(const TraySettings& settings, const std::vector<std::string>& args, ovrin_tool::Options* options,
                 std::string* error) {
  *options = ovrin_tool::Options();
  options->typeSeparator = LocaleSeparator();
  options->measureKey = "F9";
  // The link searches again after a loss, and never asks the user whether
  // to keep searching.
  std::vector<std::string> kept = {"ovrin-tray",   "type",          "--reconnect",      "--scale",
                                   settings.scale, "--decimals",    settings.decimals,  "--then",
                                   settings.then,  "--measure-key", settings.measureKey};
  if (!settings.separator.empty()) kept.insert(kept.end(), {"--decimal-separator", settings.separator});
  if (!settings.log.empty()) kept.insert(kept.end(), {"--output", settings.log});
  std::string printed;
  if (Parse(kept, options, &printed) >= 0) {
    *error = "the settings in HKEY_CURRENT_USER\\Software\\Ovrin70\\Tray are wrong: " + printed;
    return false;
  }
  std::vector<std::string> given = {"ovrin-tray", "type"};
  given.insert(given.end(), args.begin(), args.end());
  if (Parse(given, options, &printed) >= 0) {
    *error = printed;
    return false;
  }
  if (options->output.empty()) options->output = DefaultLogPath();
  return true;
}

char LocaleSeparator() {
  wchar_t separator[8] = {};
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) > 0 && separator[0] == L',' &&
      separator[1] == L'\0') {
    return ',';
  }
  return '.';
}

std::string DefaultLogPath() {
  PWSTR documents = nullptr;
  std::wstring folder = L".";
  if (SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_CREATE, nullptr, &documents) == S_OK) folder = documents;
  CoTaskMemFree(documents);
  folder += L"\\Ovrin70";
  CreateDirectoryW(folder.c_str(), nullptr);
  return Utf8(folder + L"\\readings.csv");
}

bool StartsWithWindows() { return !ReadString(kRunKey, kRunValue, "").empty(); }

bool SetStartWithWindows(bool on) {
  if (!on) return RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue) == ERROR_SUCCESS;
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return false;
  return WriteString(kRunKey, kRunValue, "\"" + Utf8(path) + "\"");
}

}  // namespace ovrin_tray
