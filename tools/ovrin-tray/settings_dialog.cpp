// The Settings dialog: what is kept in the registry, checked by the same
// parser as the command line before it is kept.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "resource.h"
#include "text.h"
#include "tray.h"

namespace ovrin_tray {
namespace {

// The choices of the lists, as the settings keep them and as shown.
const char* const kThen[][2] = {{"enter", "Enter"}, {"tab", "Tab"}, {"space", "Space"}, {"none", "Nothing"}};
const char* const kSeparators[][2] = {{"", "As Windows has it"}, {".", ". (point)"}, {",", ", (comma)"}};

std::string Text(HWND dialog, int id) {
  wchar_t text[1024] = {};
  GetDlgItemTextW(dialog, id, text, 1024);
  return Utf8(text);
}

template <std::size_t N>
void Fill(HWND dialog, int id, const char* const (&choices)[N][2], const std::string& chosen) {
  for (std::size_t i = 0; i < N; ++i) {
    SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(choices[i][1]).c_str()));
    if (chosen == choices[i][0]) SendDlgItemMessageW(dialog, id, CB_SETCURSEL, i, 0);
  }
}

template <std::size_t N>
std::string Chosen(HWND dialog, int id, const char* const (&choices)[N][2]) {
  const auto at = static_cast<std::size_t>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
  return at < N ? choices[at][0] : choices[0][0];
}

void Show(HWND dialog, const TraySettings& settings) {
  SetDlgItemTextW(dialog, IDC_SCALE, Wide(settings.scale).c_str());
  SetDlgItemTextW(dialog, IDC_DECIMALS, Wide(settings.decimals).c_str());
  Fill(dialog, IDC_SEPARATOR, kSeparators, settings.separator);
  Fill(dialog, IDC_THEN, kThen, settings.then);
  for (int key = 1; key <= 24; ++key) {
    const std::wstring name = L"F" + std::to_wstring(key);
    SendDlgItemMessageW(dialog, IDC_KEY, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    if (Wide(settings.measureKey) == name) SendDlgItemMessageW(dialog, IDC_KEY, CB_SETCURSEL, key - 1, 0);
  }
  CheckDlgButton(dialog, IDC_SOUND, settings.sound ? BST_CHECKED : BST_UNCHECKED);
  SetDlgItemTextW(dialog, IDC_LOG, Wide(settings.log).c_str());
  SendDlgItemMessageW(dialog, IDC_LOG, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(Wide(DefaultLogPath()).c_str()));
}

TraySettings Read(HWND dialog, TraySettings settings) {
  settings.scale = Text(dialog, IDC_SCALE);
  settings.decimals = Text(dialog, IDC_DECIMALS);
  settings.separator = Chosen(dialog, IDC_SEPARATOR, kSeparators);
  settings.then = Chosen(dialog, IDC_THEN, kThen);
  settings.measureKey = Text(dialog, IDC_KEY);
  settings.sound = IsDlgButtonChecked(dialog, IDC_SOUND) == BST_CHECKED;
  settings.log = Text(dialog, IDC_LOG);
  return settings;
}

INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* app = reinterpret_cast<TrayApp*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      Show(dialog, reinterpret_cast<TrayApp*>(lParam)->Settings());
      SetForegroundWindow(dialog);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        std::string error;
        if (!app->Apply(Read(dialog, app->Settings()), &error)) {
          MessageBoxW(dialog, Wide(error).c_str(), L"Ovrin70 settings", MB_OK | MB_ICONWARNING);
          return TRUE;
        }
        EndDialog(dialog, IDOK);
      } else if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void EditSettings(HINSTANCE instance, HWND owner, TrayApp& app) {
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SETTINGS), owner, Procedure, reinterpret_cast<LPARAM>(&app));
}

}  // namespace ovrin_tray
