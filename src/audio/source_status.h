// Where capture stands, as the worker reports it to the UI thread (the tray tip, the menu).
#pragma once

#include <cstdint>
#include <string>

#include "platform/sound_input.h"

namespace tonalis {

// Where capture stands.
enum class SourceState : int32_t {
  Starting = 0,   // nothing tried yet
  Listening = 1,  // the chosen source is recording
  Absent = 2,     // the chosen source is missing; the default input stands in until it returns
  Lost = 3,       // nothing can be opened; silence, retrying
};

// What the worker reports to the UI thread (tray tip, menu).
struct SourceStatus {
  SourceState state = SourceState::Starting;
  SoundSource chosen;
  std::string endpointName;  // the endpoint recorded from ("" while Lost)
  friend bool operator==(const SourceStatus&, const SourceStatus&) = default;
};

}  // namespace tonalis
