// Row colours, laid out like a Windows COLORREF (0x00BBGGRR).
#pragma once

#include <cstdint>

namespace ost {

using Rgb = uint32_t;

constexpr Rgb MakeRgb(uint8_t r, uint8_t g, uint8_t b) {
  return Rgb{r} | Rgb{g} << 8 | Rgb{b} << 16;
}
constexpr uint8_t RedOf(Rgb c) { return static_cast<uint8_t>(c); }
constexpr uint8_t GreenOf(Rgb c) { return static_cast<uint8_t>(c >> 8); }
constexpr uint8_t BlueOf(Rgb c) { return static_cast<uint8_t>(c >> 16); }

// The colours the workflow paints rows with.
constexpr Rgb kBlack = MakeRgb(0, 0, 0);
constexpr Rgb kWhite = MakeRgb(255, 255, 255);
constexpr Rgb kDoneGreen = MakeRgb(0, 128, 0);
constexpr Rgb kAlertRed = MakeRgb(255, 0, 0);
constexpr Rgb kWrittenOlive = MakeRgb(128, 128, 0);
constexpr Rgb kHeaderGrey = MakeRgb(128, 128, 128);
constexpr Rgb kScriptBlue = MakeRgb(0, 102, 153);
constexpr Rgb kRunningBlue = MakeRgb(0, 0, 255);
constexpr Rgb kStoppedPurple = MakeRgb(153, 0, 102);

}  // namespace ost
