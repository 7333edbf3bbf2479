#include "windows/main/frmKestrine.h"

#include "base/ErrorNumbers.h"
#include "base/ErrorRecord.h"
#include "mail/NewMail.h"
#include "modules/Global.h"
#include "modules/MsgBoxFunctions.h"
#include "ui/BusyCursor.h"
#include "ui/MessageBox.h"
#include "windows/about/frmAbout.h"

#include <memory>
#include <new>

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

// The list's texts as the mail component's importance: low, normal, high.
// Compared exactly; any other text, the empty one included, is low.
std::int32_t ImportanceValue(const QString &strImportance) {
  if (strImportance == QLatin1String("Low"))
    return 0;
  if (strImportance == QLatin1String("Medium"))
    return 1;
  if (strImportance == QLatin1String("High"))
    return 2;
  return 0;
}

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

bool frmKestrine::SendEmail() {
  bool result = false;
  conversation_.clear();
  std::unique_ptr<mail::NewMail> objNewMail;
  const auto report = [](const ErrorRecord &failure) {
    HandlingError handling(failure);
    Global::gstrMessage = QStringLiteral("Err_SendEmail");
    MsgBoxError(Global::gstrMessage);
  };

  try {
    bool confirmed = true;
    if (txtTo.Text().contains(QLatin1String(kPlaceholderDomain), Qt::CaseInsensitive)) {
      Global::gstrMessage = QStringLiteral("Are you sure this is a correct email address?\r\n");
      Global::gstrMessage += txtTo.Text() + QStringLiteral("\r\n");
      if (MsgBoxYesNo(Global::gstrMessage) == ui::IDNO) {
        txtTo.SetFocus();
        confirmed = false;
      }
    }
    if (confirmed) {
      objNewMail = std::make_unique<mail::NewMail>();
      objNewMail->From(txtFrom.Text());
      objNewMail->To(txtTo.Text());
      objNewMail->Subject(txtSubject.Text());
      const QString strImportance = lstImportance.Text();
      objNewMail->Importance(ImportanceValue(strImportance));
      objNewMail->Body(txtMessage.Text());
      {
        ui::BusyCursor busy;
        objNewMail->Send();
      }
      result = true;
    }
  } catch (const ErrorRecord &failure) {
    report(failure);
    // Failures that are not the components' own reach the user too: nothing escapes the window.
  } catch (const std::bad_alloc &) {
    report(ErrorRecord(kOutOfMemory, QStringLiteral("Out of memory while preparing the message.")));
  } catch (const std::exception &failure) {
    report(ErrorRecord(kInternalError,
                       QStringLiteral("Internal error: %1").arg(QString::fromLocal8Bit(failure.what()))));
  }

  // Exit block: the mail object goes on every path, its conversation kept for
  // the box that follows.
  if (objNewMail)
    conversation_ = objNewMail->Conversation();
  objNewMail.reset();
  return result;
}

void frmKestrine::cmdSendEmail_Click() {
  if (SendEmail())
    ui::MsgBox(QStringLiteral("Send Email OK"), ui::MB_OK, QString(), conversation_);
}

void frmKestrine::cmdAbout_Click() { frmAbout::Instance().Show(this); }
