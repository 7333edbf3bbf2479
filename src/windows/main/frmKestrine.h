#pragma once

#include "ui/Controls.h"
#include "ui/Window.h"

// The domain of the default recipient. A recipient that still contains it is
// questioned before anything is sent.
inline constexpr char kPlaceholderDomain[] = "example.com";
inline constexpr char kDefaultSender[] = "kestrine@brimvale.example";
inline constexpr char kDefaultRecipient[] = "someone@example.com";
inline constexpr char kDefaultSubject[] = "Kestrine Server";
extern const char kDefaultBody[];

// The main window: the test message's fields, its importance and the two buttons.
class frmKestrine : public ui::Window {
public:
  frmKestrine();

  // Submits one message built from the fields; true when the mail service
  // accepted it. Failures are reported here, with the details their Error
  // record carries (the mail component's carry the SMTP dialogue), and never
  // passed on.
  bool SendEmail();

  ui::TextBox txtFrom{*this, "txtFrom"};
  ui::TextBox txtTo{*this, "txtTo"};
  ui::TextBox txtSubject{*this, "txtSubject"};
  ui::TextBox txtMessage{*this, "txtMessage"};
  ui::ListBox lstImportance{*this, "lstImportance"};
  ui::CommandButton cmdSendEmail{*this, "cmdSendEmail"};
  ui::CommandButton cmdAbout{*this, "cmdAbout"};

protected:
  void Load() override;

private:
  void cmdSendEmail_Click();
  void cmdAbout_Click();

  // The SMTP dialogue of the last SendEmail, kept from its mail object before
  // that goes; empty when nothing was sent.
  QString conversation_;
};
