// The kit's web server as the window owns it: the one process the window
// started, with a key of its own, trusted only while it runs and has proved
// that it holds that key. When it ends without being asked to, the window
// starts a new one with a new key and proves it again.
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QObject>
#include <QProcess>
#include <QTimer>

#include <functional>

class ServerProcess : public QObject {
  Q_OBJECT

 public:
  enum class State {
    Starting,   // started, not proved yet
    Proved,     // running, and it answered the challenge
    PortTaken,  // it could not listen: another program answers on the port
    Absent,     // not running (could not start, or ended) and nothing else answers
  };

  // `program` is started in `folder`, the folder of the pages it serves.
  ServerProcess(const QString& program, const QString& folder, QObject* parent = nullptr);
  // Stops the process, waiting a while for it to end.
  ~ServerProcess() override;

  void start();
  State state() const { return state_; }
  bool proved() const { return state_ == State::Proved; }

  // Asks the server to prove itself again, as before every load of a document
  // of the kit's origin; a wrong or missing answer ends the trust. Without a
  // running server, starts one at once.
  void recheck();

 signals:
  // The first start has ended in a state other than Starting.
  void settled();
  // The trust changed: proved() tells which way.
  void trustChanged();

 private:
  // Sends a fresh challenge; `done` learns whether the answer proved the current
  // key and whether anything answered at all.
  void Challenge(const std::function<void(bool ours, bool answered)>& done);
  void SetState(State state);
  void OnFinished();

  const QString program_;
  const QString folder_;
  QProcess* process_;
  QNetworkAccessManager network_;
  QTimer prove_timer_;    // repeats the challenge until it is answered
  QTimer restart_timer_;  // a new start after an unexpected end
  QByteArray key_;
  State state_ = State::Absent;
  QDeadlineTimer prove_deadline_;
  int restart_delay_ms_ = 0;
  bool settled_ = false;
  bool challenge_pending_ = false;
  bool stopping_ = false;
};
