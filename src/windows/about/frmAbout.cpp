#include "windows/about/frmAbout.h"

#include "base/Version.h"
#include "resources/Resources.h"

using ui::Kind;

namespace {

const ui::WindowSpec kWindow{"About Kestrine", {2700, 2010, 5655, 4890}};

// clang-format off
const ui::ControlSpec kControls[] = {
//  Name        Kind              Left  Top   Width Height  Tab  Content
  {"Picture1", Kind::PictureBox, {360,  240, 3135, 2055},  0, resources::kLogo},
  {"lblInfo",  Kind::Label,      {360, 2520, 3135, 1815},  1, "Brimvale Systems Limited"},
};
// clang-format on

} // namespace

frmAbout::frmAbout() : ui::Window(kWindow, kControls) {}

frmAbout &frmAbout::Instance() {
  static frmAbout instance;
  return instance;
}

void frmAbout::Load() {
  const QString crlf = QStringLiteral("\r\n");
  QString info;
  info += QString::fromUtf8(Version::kLegalCopyright) + crlf;
  info += QStringLiteral("Web Site: ") + QString::fromUtf8(Version::kWebSite) + crlf;
  info += QStringLiteral("Email: ") + QString::fromUtf8(Version::kSupportAddress) + crlf;
  info += crlf;
  info += QStringLiteral("Free for testing your mail server.") + crlf;
  info += QStringLiteral("Provided as is, without warranty.") + crlf;
  info += QStringLiteral("Use it at your own risk.") + crlf;
  info += crlf;
  lblInfo.SetCaption(info);
  Picture1.SetDescription(QStringLiteral("Kestrine logo"));
}
