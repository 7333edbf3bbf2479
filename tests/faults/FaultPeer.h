#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>

// tests/faults/fault_peer.py in its own process on a free loopback port: the
// faults the support servers do not make (see that script for the scenarios).
class FaultPeer {
public:
  explicit FaultPeer(QStringList arguments) : arguments_(std::move(arguments)) {}
  ~FaultPeer() { stop(); }
  FaultPeer(const FaultPeer &) = delete;
  FaultPeer &operator=(const FaultPeer &) = delete;

  // Waits at most 20 s for the peer to listen.
  bool start();
  void stop();

  std::uint16_t port() const { return port_; }
  QString errorString() const { return error_; }
  int connectionCount() const;
  // One line per accepted message: "FROM RCPT [RCPT ...] SIZE".
  QStringList accepted() const;

private:
  QStringList arguments_;
  QTemporaryDir directory_;
  std::unique_ptr<QProcess> process_;
  std::uint16_t port_ = 0;
  QString error_;
};
