#pragma once

class QLabel;

namespace ui {

// Qt presents a label to assistive technology by its name only, so a screen
// reader cannot move through a long text by line or word. Labels marked here
// also offer their text through the accessible text interface.
void MakeReadable(QLabel *label);

// The same for a label whose text is not set yet: its first interface is then
// the readable one, with nothing made twice.
void MarkReadable(QLabel *label);

// Registers the accessible interface of the marked labels; once per program.
void InstallReadableLabels();

} // namespace ui
