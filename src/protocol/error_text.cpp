// DescError: the English texts of the meter's device error codes.
#include <cstring>

#include "ovrin_types.h"

namespace {

struct ErrorText {
  int code;
  const char* text;
};

// The texts are the meter's documented wording and stay exactly as they are.
constexpr ErrorText kErrorTexts[] = {
    {203, "Invalid command or invalid parameter"},
    {204, "Dimension error"},
    {221, "Parity error"},
    {222, "UART buffer overflow"},
    {223, "UART framing error"},
    {224, "Receive buffer overflow"},
    {240, "Data transmission not comfirmed(within the expected time)"},
    {241, "[cfm]-Command received but not expected"},
    {242, "BLUETOOTH module not ready"},
    {243, "General communication error with the internal BLUETOOTH module"},
    {244, "On/Off-key pressed(during an established BLUETOOTH link)"},
    {245, "2nd-Function Key pressed(but no BLUETOOTH connection exist)"},
    {251, "Battery voltage too low"},
    {252, "Temperature too high"},
    {253, "Temperature too low"},
    {255, "Receiver signal too low"},
    {256, "Receiver signal too high"},
    {257, "Too much ambient light"},
    {260, "Moving target (pointing with shaky hands)"},
    {272, "Internal measuring module error"},
    {273, "Internal measuring module error"},
    {274, "Internal measuring module error"},
    {275, "Internal measuring module error"},
    {279, "Internal measuring module error"},
    {285, "EEPROM: BT section checksum error"},
    {286, "Internal measuring module error"},
    {287, "EEPROM: HMI section checksum error"},
    {288, "Internal measuring module error"},
    {289, "EEPROM: DMC section checksum error"},
    {290, "Internal measuring module error"},
    {294, "Display overflow"},
};

const char* TextOf(int code) {
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  return "unkown error";
}

}  // namespace

void DescError(int* (*codeSource)(), char* buffer, int bufferLength) {
  if (codeSource == nullptr || buffer == nullptr || bufferLength < 1) return;
  const int code = *codeSource();
  // strncpy pads the rest of the buffer with NUL bytes, so every byte is written.
  std::strncpy(buffer, TextOf(code), static_cast<std::size_t>(bufferLength));
  buffer[bufferLength - 1] = '\0';
}
