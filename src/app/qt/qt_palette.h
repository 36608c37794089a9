// Palette indexes as Qt colours.
#pragma once

#include <QColor>

#include "app/palette.h"
#include "volume/ui.h"

namespace vr {

inline QColor QtColour(int index) { return QColor(QRgb(PaletteRgb(index))); }

}  // namespace vr
