// Drawing in palette colour indexes on a QImage: what every picture of the
// main window (the block map, the charts) does at its lowest level.
#pragma once

#include <QFont>
#include <QImage>
#include <cstdint>
#include <span>
#include <string>

namespace vr {

// Each is clipped to the image; pixels outside it are left alone.
void Image_Set_Pixel(QImage& image, int x, int y, int colour);
// A width x height block of colour indexes, row by row.
void Image_Put_Block(QImage& image, int x, int y, int width, int height,
                     std::span<const uint8_t> colours);
// Text with its top-left corner at (x, y).
void Image_Draw_Text(QImage& image, const QFont& font, int x, int y, const std::string& text,
                     int colour);
int Image_Text_Width(const QFont& font, const std::string& text);

}  // namespace vr
