// QR codes from Debian's qrcodegen (libqrcodegencpp).
#include "terminal_qr.h"

#include <qrcodegen/qrcodegen.hpp>

namespace ovrin_tool {

std::string TerminalQr(const std::string& text) {
  const qrcodegen::QrCode code = qrcodegen::QrCode::encodeText(text.c_str(), qrcodegen::QrCode::Ecc::MEDIUM);
  constexpr int kQuiet = 2;
  const int size = code.getSize();
  // Dark modules as ink on a light terminal or not: light is drawn, dark left
  // blank, which reads right on the usual dark background.
  auto light = [&code, size](int x, int y) {
    return x < 0 || y < 0 || x >= size || y >= size || !code.getModule(x, y);
  };
  std::string drawn;
  for (int y = -kQuiet; y < size + kQuiet; y += 2) {
    for (int x = -kQuiet; x < size + kQuiet; ++x) {
      const bool top = light(x, y);
      const bool bottom = light(x, y + 1);
      drawn += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
    }
    drawn += "\n";
  }
  return drawn;
}

}  // namespace ovrin_tool
