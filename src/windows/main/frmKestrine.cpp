#include "windows/main/frmKestrine.h"

#include "windows/about/frmAbout.h"

using ui::Kind;

const char kDefaultBody[] = "This is a test of the SMTP server of IIS.\r\n"
                            "This server is installed together with IIS.\r\n"
                            "\r\n"
                            "Enter your own \"to email address\" \r\n"
                            "Then click on button \"Send Email\"\r\n"
                            "Retrieve the email with your POP3 email client, like \r\n"
                            "Outlook Express, Eudoro or Netscape.\r\n"
                            "\r\n"
                            "You can uninstall Kestrine via Control Panel , Add/Remove Programs.\r\n";

namespace {

const ui::WindowSpec kWindow{"Kestrine Server", {2700, 2010, 6690, 5265}};

// clang-format off
const ui::ControlSpec kControls[] = {
//  Name             Kind                      Left  Top   Width Height  Tab  Caption or text       Tooltip                        Buddy
  {"txtFrom",       Kind::TextField,          {1920,  240, 3975,  285},  0, kDefaultSender,      "Email message from address"},
  {"Label1",        Kind::Label,              { 240,  240, 1575,  255},  1, "From email address", "",                            "txtFrom"},
  {"txtTo",         Kind::TextField,          {1920,  600, 3975,  285},  2, kDefaultRecipient,   "Email message  address"},
  {"Label2",        Kind::Label,              { 240,  600, 1575,  255},  3, "To email address",   "",                            "txtTo"},
  {"txtSubject",    Kind::TextField,          {1920,  960, 3975,  285},  4, kDefaultSubject,     "Email message subject"},
  {"Label3",        Kind::Label,              { 240,  960, 1575,  255},  5, "Subject",            "",                            "txtSubject"},
  {"Label4",        Kind::Label,              { 240, 1320, 1575,  255},  6, "Importance",         "",                            "lstImportance"},
  {"txtMessage",    Kind::MultiLineTextField, {1920, 2160, 3975, 2085},  7, kDefaultBody},
  {"Label5",        Kind::Label,              { 240, 2280, 1575,  255},  8, "Message",            "",                            "txtMessage"},
  {"cmdSendEmail",  Kind::PushButton,         { 240, 4560, 1215,  615},  9, "Send Email"},
  {"cmdAbout",      Kind::PushButton,         {1560, 4560, 1215,  615}, 10, "About"},
  {"lstImportance", Kind::ListBox,            {1920, 1320, 3135,  645}, 11},
};
// clang-format on

} // namespace

frmKestrine::frmKestrine() : ui::Window(kWindow, kControls) {
  cmdSendEmail.Click = [this] { cmdSendEmail_Click(); };
  cmdAbout.Click = [this] { cmdAbout_Click(); };
}

void frmKestrine::Load() {
  lstImportance.AddItem(QStringLiteral("Low"));
  lstImportance.AddItem(QStringLiteral("Medium"));
  lstImportance.AddItem(QStringLiteral("High"));
  lstImportance.SetText(lstImportance.List(0));
}

bool frmKestrine::SendEmail() { return false; }

void frmKestrine::cmdSendEmail_Click() {}

void frmKestrine::cmdAbout_Click() { frmAbout::Instance().Show(); }
