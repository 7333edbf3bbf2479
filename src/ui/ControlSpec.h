#pragma once

#include "ui/Twips.h"

namespace ui {

enum class Kind {
  TextField,          // single line
  MultiLineTextField, // with a vertical scroll bar
  ListBox,            // unsorted, at most one selected item
  Label,
  PushButton,
  PictureBox,
};

// One row of a window's control table. Caption is the initial text of a field,
// the caption of a label or button, or the image resource of a picture box.
// A label names the field it describes in Buddy: the field's accessible name
// is then the label's caption.
struct ControlSpec {
  const char *Name;
  ui::Kind Kind;
  TwipsRect Geometry;
  int TabIndex;
  const char *Caption = "";
  const char *Tooltip = "";
  const char *Buddy = "";
};

// A window's caption and its client area: stored position and size in twips.
struct WindowSpec {
  const char *Caption;
  TwipsRect ClientArea;
};

} // namespace ui
