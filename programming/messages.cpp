#include "programming/messages.h"

#include "link/result_codes.h"

namespace isp::msg {

std::string resultText(std::int32_t code) {
  switch (code) {
    case rc::kDataFormatError: return "Ошибка формата данных";
    case rc::kCommandParameterError: return "Ошибка параметров команды";
    case rc::kDeviceNotReady: return "Устройство не готово";
    case rc::kNoReply: return "Устройство не обнаружено";
    case rc::kBadReply: return "Ошибка контрольной суммы";
    case rc::kPortNotOpen: return "Порт не открыт";
    default: return std::string(kError) + std::to_string(code);
  }
}

std::string recordError(std::int32_t code, int block) {
  return std::string(kError) + std::to_string(code) + ", блок " + std::to_string(block);
}

std::string recordFailure(int block, std::int32_t code, const PortStatus& port) {
  const std::string record = "record " + std::to_string(block) + " was not taken: ";
  switch (code) {
    case rc::kNoReply:
      // A device that went away is named, not taken for a silent one.
      if (!port) return record + port.why;
      return record + "no reply from the device within the time-out";
    case rc::kBadReply: return record + "the reply was damaged or did not answer this request";
    case rc::kPortNotOpen: return record + "the port could not be opened again: " + port.why;
    default: return record + "the device refused it with its own error code " + std::to_string(code);
  }
}

namespace {
// Code points of 0x80 to 0xBF in code page 1251; 0x98 is unassigned and
// shown as U+FFFD. 0xC0 to 0xFF are U+0410 to U+044F.
constexpr char16_t kHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};
}  // namespace

std::string fromCp1251(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    char32_t cp = b;
    if (b >= 0xC0)
      cp = 0x0410 + (b - 0xC0);
    else if (b >= 0x80)
      cp = kHigh[b - 0x80];
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace isp::msg
