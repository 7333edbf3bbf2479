#pragma once

#include <QRect>

#include <algorithm>

namespace ui {

// The top-left corner that puts `frame` inside `room`, moved no further than
// needed. A frame larger than the room keeps its top-left corner in view.
inline QPoint KeptInside(const QRect &frame, const QRect &room) {
  return {std::max(room.left(), std::min(frame.left(), room.right() + 1 - frame.width())),
          std::max(room.top(), std::min(frame.top(), room.bottom() + 1 - frame.height()))};
}

} // namespace ui
