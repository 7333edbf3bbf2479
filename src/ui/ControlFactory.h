#pragma once

#include "ui/ControlSpec.h"

#include <QWidget>

namespace ui {

// Builds the widget for one row of a control table as a child of `parent`.
QWidget *CreateControl(const ControlSpec &control, QWidget *parent);

} // namespace ui
