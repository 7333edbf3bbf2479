#pragma once

#include "support/BoxAnswerer.h"
#include "support/SmtpTestServer.h"
#include "windows/main/frmKestrine.h"

#include <QObject>

#include <cstdint>
#include <memory>

namespace testsupport {

// Points every new submission (mail::SetDefaultTarget) at a test server on
// 127.0.0.1 `port`, with bounds short enough for a test: 3 s to connect,
// `replyMs` for each reply and `totalMs` for the whole submission.
void PointMailAt(std::uint16_t port, int replyMs = 5000, int totalMs = 10000);

// An Err_SendEmail box read: its number and description; code -1 when the
// prompt is not one. The box is three lines whatever the server sent: its line
// breaks are shown escaped.
struct Report {
  int code = -1;
  QString description;
};
Report ReadReport(const QString &prompt);

// A base for the Qt Test classes that press the main window. Before each test
// function a new frmKestrine is shown and active in form_, and boxes_ answers
// its boxes; after it the window is gone and submissions go to the default
// target again.
class MainWindowTest : public QObject {
  Q_OBJECT

protected:
  frmKestrine *form_ = nullptr;
  std::unique_ptr<BoxAnswerer> boxes_;
  std::unique_ptr<SmtpTestServer> server_; // what Serve() started

  // Clicks "Send Email" as a user does; returns once the click has been handled.
  void Press();

  // Starts a test server (as SmtpTestServer's constructor takes it) in server_
  // and points submissions at it. False, saying why, when it does not start.
  bool Serve(SmtpTestServer::Program program = SmtpTestServer::Program::MailServer,
             QStringList arguments = {});

private slots:
  void init();
  void cleanup();
};

} // namespace testsupport
