#include "faults/FaultPeer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

namespace {
constexpr int kStartBoundMs = 20000;
constexpr int kStopBoundMs = 5000;

QStringList Lines(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return {};
  return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}
} // namespace

bool FaultPeer::start() {
  process_ = std::make_unique<QProcess>();
  process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_->start(QStringLiteral("/usr/bin/python3"),
                  QStringList{QStringLiteral(KESTRINE_FAULT_PEER), QStringLiteral("--port"),
                              QStringLiteral("0"), QStringLiteral("--dir"), directory_.path()} +
                      arguments_);
  QByteArray output;
  const QDeadlineTimer deadline(kStartBoundMs);
  if (process_->waitForStarted(kStartBoundMs)) {
    while (!deadline.hasExpired() && process_->state() == QProcess::Running) {
      process_->waitForReadyRead(200);
      output += process_->readAllStandardOutput();
      const qsizetype at = output.indexOf("PORT ");
      const qsizetype end = output.indexOf('\n', at);
      if (at >= 0 && end > at) {
        port_ = static_cast<std::uint16_t>(output.mid(at + 5, end - at - 5).trimmed().toUInt());
        if (port_ != 0)
          return true;
        break;
      }
    }
  }
  error_ = QStringLiteral("fault_peer.py did not start listening: %1; its output: %2")
               .arg(process_->errorString(), QString::fromLocal8Bit(output));
  stop();
  return false;
}

void FaultPeer::stop() {
  if (!process_)
    return;
  if (process_->state() != QProcess::NotRunning) {
    process_->terminate();
    if (!process_->waitForFinished(kStopBoundMs)) {
      process_->kill();
      process_->waitForFinished(kStopBoundMs);
    }
  }
  process_.reset();
}

int FaultPeer::connectionCount() const {
  return static_cast<int>(Lines(QDir(directory_.path()).filePath(QStringLiteral("connections.log"))).size());
}

QStringList FaultPeer::accepted() const {
  return Lines(QDir(directory_.path()).filePath(QStringLiteral("accepted.log")));
}
