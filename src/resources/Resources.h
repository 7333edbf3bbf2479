#pragma once

#include <QIcon>

namespace resources {

// The 202 x 128 logo with a transparent background; logo@2x.png beside it is
// the same drawing at twice the size, for screens scaled by two or more.
inline constexpr char kLogo[] = ":/kestrine/logo.png";

// The sizes a window's icon is drawn at, in title bars, task lists and
// switchers. The installed icon theme carries the larger ones as well.
inline constexpr int kWindowIconSizes[] = {16, 24, 32, 48, 64};

// The application icon for the windows, at the sizes above.
QIcon ApplicationIcon();

} // namespace resources
