#pragma once

#include <QIcon>

namespace resources {

// The 202 x 128 logo with a transparent background.
inline constexpr char kLogo[] = ":/kestrine/logo.png";

// The application icon, at every size it was rendered.
QIcon ApplicationIcon();

} // namespace resources
