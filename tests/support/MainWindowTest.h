#pragma once

#include "windows/main/frmKestrine.h"

#include <QObject>

#include <cstdint>

namespace testsupport {

// Points every new submission (mail::SetDefaultTarget) at a test server on
// 127.0.0.1 `port`, with bounds short enough for a test: 3 s to connect,
// `replyMs` for each reply and `totalMs` for the whole submission.
void PointMailAt(std::uint16_t port, int replyMs = 5000, int totalMs = 10000);

// A base for the Qt Test classes that press the main window. Before each test
// function a new frmKestrine is shown and active in form_; after it the window
// is gone and submissions go to the default target again.
class MainWindowTest : public QObject {
  Q_OBJECT

protected:
  frmKestrine *form_ = nullptr;

  // Clicks "Send Email" as a user does; returns once the click has been handled.
  void Press();

private slots:
  void init();
  void cleanup();
};

} // namespace testsupport
