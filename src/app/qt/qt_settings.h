// The per-user settings store of the program: QSettings, no organisation,
// application "VoduRU", the platform's native format.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace vr {

std::unique_ptr<platform::SettingsStore> MakeQtSettings();

}  // namespace vr
