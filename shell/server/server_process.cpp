#include "server/server_process.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcessEnvironment>

#include <functional>

#include "app/diagnostics.h"
#include "app/paths.h"
#include "app/platform.h"
#include "server/identity.h"

namespace {

constexpr int kKeyBytes = 32;
constexpr int kChallengeBytes = 16;
// A started server listens within milliseconds; one that has not proved itself by then never will.
constexpr int kProveLimitMs = 5000;
constexpr int kChallengeIntervalMs = 50;
constexpr int kAnswerLimitMs = 2000;
constexpr int kStopLimitMs = 10000;
// After an unexpected end the next start waits a while, longer each time it fails again.
constexpr int kFirstRestartDelayMs = 1000;
constexpr int kLongestRestartDelayMs = 8000;

}  // namespace

ServerProcess::ServerProcess(const QString& program, const QString& folder, QObject* parent)
    : QObject(parent), program_(program), folder_(folder), process_(new QProcess(this)) {
  // The challenge goes to loopback, never through a proxy the environment names.
  network_.setProxy(QNetworkProxy::NoProxy);
  prove_timer_.setInterval(kChallengeIntervalMs);
  connect(&prove_timer_, &QTimer::timeout, this, [this] {
    if (challenge_pending_) return;
    if (prove_deadline_.hasExpired()) {
      // Running but not proving itself: it goes, and the next start is scheduled once it has.
      prove_timer_.stop();
      process_->kill();
      return;
    }
    challenge_pending_ = true;
    Challenge([this](bool ours, bool) {
      challenge_pending_ = false;
      if (!ours || state_ != State::Starting || process_->state() != QProcess::Running) return;
      prove_timer_.stop();
      restart_delay_ms_ = 0;
      SetState(State::Proved);
    });
  });
  restart_timer_.setSingleShot(true);
  connect(&restart_timer_, &QTimer::timeout, this, &ServerProcess::start);

  process_->setProgram(program_);
  process_->setWorkingDirectory(folder_);
  process_->setStandardInputFile(QProcess::nullDevice());
  process_->setStandardOutputFile(QProcess::nullDevice());
  process_->setStandardErrorFile(QProcess::nullDevice());
  process_->setChildProcessModifier(shell_platform::detach_child);
  connect(process_, &QProcess::finished, this, &ServerProcess::OnFinished);
  connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    prove_timer_.stop();
    SetState(State::Absent);
  });
}

ServerProcess::~ServerProcess() {
  stopping_ = true;
  if (process_->state() == QProcess::NotRunning) return;
  process_->terminate();
  if (!process_->waitForFinished(kStopLimitMs)) {
    process_->kill();
    process_->waitForFinished(kStopLimitMs);
  }
}

void ServerProcess::start() {
  if (stopping_ || process_->state() != QProcess::NotRunning) return;
  restart_timer_.stop();
  key_ = random_hex(kKeyBytes);
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(kServerKeyVariable, QString::fromLatin1(key_));
  process_->setProcessEnvironment(environment);
  SetState(State::Starting);
  prove_deadline_ = QDeadlineTimer(kProveLimitMs);
  challenge_pending_ = false;
  process_->start();
  prove_timer_.start();
}

void ServerProcess::recheck() {
  if (stopping_) return;
  if (process_->state() == QProcess::NotRunning) {
    start();
    return;
  }
  if (state_ != State::Proved) return;
  Challenge([this](bool ours, bool) {
    if (ours || state_ != State::Proved) return;
    diagnostic("server did not prove itself");
    SetState(State::Starting);
    prove_deadline_ = QDeadlineTimer(kProveLimitMs);
    prove_timer_.start();
  });
}

void ServerProcess::Challenge(const std::function<void(bool ours, bool answered)>& done) {
  const QByteArray challenge = random_hex(kChallengeBytes);
  const QByteArray expected = identity_proof(key_, challenge);
  QNetworkRequest request(QUrl(QString("http://127.0.0.1:%1%2?challenge=%3")
                                   .arg(kServerPort)
                                   .arg(kIdentityPath, QString::fromLatin1(challenge))));
  request.setTransferTimeout(kAnswerLimitMs);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  QNetworkReply* reply = network_.get(request);
  const QByteArray key = key_;
  connect(reply, &QNetworkReply::finished, this, [this, reply, key, expected, done] {
    reply->deleteLater();
    const bool ours = key == key_ && reply->error() == QNetworkReply::NoError && reply->readAll() == expected;
    done(ours, reply->error() != QNetworkReply::ConnectionRefusedError);
  });
}

void ServerProcess::OnFinished() {
  prove_timer_.stop();
  if (stopping_) return;
  if (state_ == State::Proved) {
    diagnostic("server ended unexpectedly");
    SetState(State::Absent);
  }
  // Whatever answers on the port now is another program's.
  Challenge([this](bool, bool answered) {
    if (stopping_ || process_->state() != QProcess::NotRunning) return;
    SetState(answered ? State::PortTaken : State::Absent);
    restart_delay_ms_ = restart_delay_ms_ == 0 ? kFirstRestartDelayMs
                                               : std::min(2 * restart_delay_ms_, kLongestRestartDelayMs);
    restart_timer_.start(restart_delay_ms_);
  });
}

void ServerProcess::SetState(State state) {
  const bool was_proved = proved();
  state_ = state;
  if (proved() != was_proved) emit trustChanged();
  if (!settled_ && state_ != State::Starting) {
    settled_ = true;
    emit settled();
  }
}
