#pragma once

#include "ui/Controls.h"
#include "ui/Window.h"

// The About window: the logo and the notice text. One instance serves the
// whole run; closing the window discards its contents, not the instance.
class frmAbout : public ui::Window {
public:
  static frmAbout &Instance();

  ui::PictureBox Picture1{*this, "Picture1"};
  ui::Label lblInfo{*this, "lblInfo"};

protected:
  void Load() override;

private:
  frmAbout();
};
