// The icon in the notification area: the program's own with a dot of the
// link's colour in its corner, drawn pixel by pixel so that the icon's
// transparency stays as it is.
#include <vector>

#include "resource.h"
#include "tray.h"

namespace ovrin_tray {
namespace {

COLORREF StateColour(ovrin_tool::LinkState state) {
  switch (state) {
    case ovrin_tool::LinkState::kConnected:
      return RGB(0x2e, 0x9d, 0x32);
    case ovrin_tool::LinkState::kLost:
    case ovrin_tool::LinkState::kReconnecting:
      return RGB(0xef, 0x8c, 0x00);
    case ovrin_tool::LinkState::kTypingFailed:
      return RGB(0xd6, 0x28, 0x28);
    case ovrin_tool::LinkState::kSearching:
      break;
  }
  return RGB(0x9e, 0x9e, 0x9e);
}

}  // namespace

HICON StateIcon(HINSTANCE instance, ovrin_tool::LinkState state) {
  const int size = GetSystemMetrics(SM_CXSMICON);
  auto* base = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_TRAY), IMAGE_ICON, size, size, 0));
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = size;
  format.bmiHeader.biHeight = -size;  // top-down
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP colour = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
  if (colour == nullptr || mask == nullptr || base == nullptr) return base;
  // The program's icon, with its alpha, as the bitmap's pixels.
  ICONINFO parts{};
  GetIconInfo(base, &parts);
  HDC memory = CreateCompatibleDC(nullptr);
  GetDIBits(memory, parts.hbmColor, 0, static_cast<UINT>(size), bits, &format, DIB_RGB_COLORS);
  DeleteObject(parts.hbmColor);
  DeleteObject(parts.hbmMask);
  DestroyIcon(base);
  // A dot in the lower right quarter, with a white rim.
  auto* pixels = static_cast<std::uint32_t*>(bits);
  const COLORREF dot = StateColour(state);
  const double radius = size * 0.27;
  const double centre = size - radius - 0.5;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const double distance = (x - centre) * (x - centre) + (y - centre) * (y - centre);
      if (distance > radius * radius) continue;
      const bool rim = distance > (radius - 1.2) * (radius - 1.2);
      pixels[y * size + x] =
          rim ? 0xffffffffu : 0xff000000u | GetRValue(dot) << 16 | GetGValue(dot) << 8 | GetBValue(dot);
    }
  }
  // An all-opaque mask: the alpha channel says what shows.
  SelectObject(memory, mask);
  PatBlt(memory, 0, 0, size, size, BLACKNESS);
  DeleteDC(memory);
  ICONINFO made{TRUE, 0, 0, mask, colour};
  HICON icon = CreateIconIndirect(&made);
  DeleteObject(colour);
  DeleteObject(mask);
  return icon;
}

}  // namespace ovrin_tray
