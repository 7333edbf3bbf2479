#include "support/MainWindowTest.h"

#include "mail/NewMail.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <chrono>

namespace testsupport {

void PointMailAt(std::uint16_t port, int replyMs, int totalMs) {
  mail::Timeouts bounds;
  bounds.Connect = std::chrono::milliseconds(3000);
  bounds.Reply = std::chrono::milliseconds(replyMs);
  bounds.Total = std::chrono::milliseconds(totalMs);
  mail::SetDefaultTarget({QStringLiteral("127.0.0.1"), port, bounds});
}

Report ReadReport(const QString &prompt) {
  static const QRegularExpression form(
      QStringLiteral("^Err_SendEmail\r\nError code = (\\d+)\r\nDescription = ([^\r\n]+)\r\n$"));
  const QRegularExpressionMatch match = form.match(prompt);
  if (!match.hasMatch())
    return {};
  return {match.captured(1).toInt(), match.captured(2)};
}

bool MainWindowTest::Serve(SmtpTestServer::Program program, QStringList arguments) {
  server_ = std::make_unique<SmtpTestServer>(program, std::move(arguments));
  if (!server_->start()) {
    qWarning("the test server did not start: %s", qPrintable(server_->errorString()));
    return false;
  }
  PointMailAt(server_->port());
  return true;
}

void MainWindowTest::Press() {
  auto *button = form_->Widget()->findChild<QPushButton *>(QStringLiteral("cmdSendEmail"));
  QTest::mouseClick(button, Qt::LeftButton);
}

void MainWindowTest::init() {
  form_ = new frmKestrine;
  form_->Show();
  QVERIFY(QTest::qWaitForWindowActive(form_->Widget()));
  boxes_ = std::make_unique<BoxAnswerer>();
}

void MainWindowTest::cleanup() {
  boxes_.reset();
  server_.reset();
  delete form_;
  form_ = nullptr;
  mail::SetDefaultTarget({});
}

} // namespace testsupport
