// libFuzzer target for the settings reader: any bytes must read without a fault, give
// only in-range values (or all defaults when a key is missing), and whatever was read
// must be written and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "app/settings_file.h"

namespace {

using tonalis::Settings;
using tonalis::SettingsLimits;

constexpr SettingsLimits Usual{443, 145, 1920, 1080};

void check(bool ok) {
  if (!ok) std::abort();
}

bool inRange(const Settings& s) {
  return s.savedX > -Usual.windowWidth && s.savedX < Usual.screenWidth - 1 &&
         s.savedY > -Usual.windowHeight && s.savedY < Usual.screenHeight - 1 &&
         (s.topMost == 0 || s.topMost == 1) && s.spectrumStyle >= 1 && s.spectrumStyle <= 6 &&
         (s.clickThrough == 0 || s.clickThrough == 1) && s.transparencyMode >= 0 &&
         s.transparencyMode <= 6 && s.colorTheme >= 1 && s.colorTheme <= 5 &&
         s.fullScreenPosition >= 0 && s.fullScreenPosition <= 3;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const auto got = tonalis::readSettings(bytes, Usual);
  check(got.result == tonalis::SettingsReadStatus::Read || got.result == tonalis::SettingsReadStatus::KeyMissing);
  if (got.result == tonalis::SettingsReadStatus::KeyMissing) check(got.settings == Settings{});
  check(inRange(got.settings));

  if (got.source.kind == tonalis::SourceKind::Device) check(tonalis::validSourceId(got.source.deviceId));

  const std::string written = tonalis::writeSettings(got.settings, got.source);
  const auto back = tonalis::readSettings(written, Usual);
  check(back.result == tonalis::SettingsReadStatus::Read && back.settings == got.settings && back.source == got.source);

  // Extreme limits must not overflow the coordinate checks.
  constexpr int32_t Max = std::numeric_limits<int32_t>::max();
  constexpr int32_t Min = std::numeric_limits<int32_t>::min();
  tonalis::readSettings(bytes, SettingsLimits{Max, Max, Min, Min});
  tonalis::readSettings(bytes, SettingsLimits{Min, Min, Max, Max});
  return 0;
}
