// What the tray program is set to: kept in HKCU\Software\Ovrin70\Tray (never
// under the library's own key), with the command line's options over them
// for one run. The settings are read by ovrin's own command-line parser, as
// `ovrin type` options, so that both programs take the same values.
#pragma once

#include <string>
#include <vector>

#include "options.h"

namespace ovrin_tray {

// As kept in the registry.
struct TraySettings {
  std::string scale = "1";
  std::string decimals = "0";
  std::string separator;  // "." or ","; empty: the one of the user's Windows locale
  std::string then = "enter";
  std::string measureKey = "F9";
  std::string log;  // empty: Documents\Ovrin70\readings.csv
  bool sound = false;
  bool typing = true;
};

TraySettings LoadSettings();
// False when the registry could not be written.
bool SaveSettings(const TraySettings& settings);

// The options of a run: the settings, then `args` (the command line's
// options) over them. False, with *error as the parser words it, when either
// is wrong.
bool MakeOptions(const TraySettings& settings, const std::vector<std::string>& args, ovrin_tool::Options* options,
                 std::string* error);

// The decimal separator of the user's Windows locale, where it is "." or ",".
char LocaleSeparator();
// Documents\Ovrin70\readings.csv, its folder made.
std::string DefaultLogPath();

// The HKCU Run value that starts the program with Windows.
bool StartsWithWindows();
bool SetStartWithWindows(bool on);

}  // namespace ovrin_tray
