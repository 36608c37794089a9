// The block map drawn with Qt: a picture of `picMap` kept in an image, and
// the rendering of the whole map area with its legend (the main window's
// picture and the command line's --map-png use it).
#pragma once

#include <QFont>
#include <QImage>
#include <functional>
#include <string>

#include "map/map_canvas.h"

namespace vr {

class MapCanvasQt : public MapCanvas {
 public:
  // A blank picture of `picMap`'s size (from the map grid).
  MapCanvasQt();
  MapCanvasQt(int width, int height);

  const QImage& Image() const { return image_; }
  // A new blank picture of the given size.
  void Resize(int width, int height);
  // Called after every drawing operation (a widget schedules its repaint).
  void SetOnChange(std::function<void()> on_change) { on_change_ = std::move(on_change); }

  void Clear() override;
  void SetPixel(int x, int y, int colour) override;
  void PutBlock(int x, int y, int width, int height, std::span<const uint8_t> colours) override;
  void DrawText(int x, int y, const std::string& text, int colour) override;
  int TextWidth(const std::string& text) const override;

 private:
  void Changed();
  QImage image_;
  QFont font_;
  std::function<void()> on_change_;
};

// The map area as it stands: legend and every painted box of BoxColors,
// chosen by the file-system name, in an image of `picMap`'s size
// (BoxColumns x BoxPitch + 5 by BoxRows x BoxPitch + 15 pixels). Needs a
// QGuiApplication for the legend's font.
QImage Render_Map_Image();
// Renders the map area and writes it as a PNG file; false when it cannot be
// written.
bool Save_Map_Png(const std::string& file);

}  // namespace vr
