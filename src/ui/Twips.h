#pragma once

#include <QRect>

namespace ui {

// Window and control coordinates are kept in twips, as the window tables give
// them; Qt works in logical pixels, 15 twips each (96 dots per inch).
inline constexpr int kTwipsPerPixel = 15;

constexpr int ToPixels(int twips) { return twips / kTwipsPerPixel; }

struct TwipsRect {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;

  QRect ToPixels() const {
    return {ui::ToPixels(Left), ui::ToPixels(Top), ui::ToPixels(Width), ui::ToPixels(Height)};
  }
};

} // namespace ui
