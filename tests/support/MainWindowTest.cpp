#include "support/MainWindowTest.h"

#include "mail/SubmissionTarget.h"

#include <QPushButton>
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

void MainWindowTest::Press() {
  auto *button = form_->Widget()->findChild<QPushButton *>(QStringLiteral("cmdSendEmail"));
  QTest::mouseClick(button, Qt::LeftButton);
}

void MainWindowTest::init() {
  form_ = new frmKestrine;
  form_->Show();
  QVERIFY(QTest::qWaitForWindowActive(form_->Widget()));
}

void MainWindowTest::cleanup() {
  delete form_;
  form_ = nullptr;
  mail::SetDefaultTarget({});
}

} // namespace testsupport
