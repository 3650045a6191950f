// One varnkit per user: the first one listens on a local socket in the user's
// private state folder; a later start hands its address to it and ends, so it
// never starts or stops a server of its own.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  explicit SingleInstance(QObject* parent = nullptr);

  // True when a running varnkit took `url` (empty when none was given): this one has nothing more to do.
  bool HandOver(const QString& url);
  // Listens for later starts; false when it cannot, and the shell then runs on its own.
  bool Listen();

 signals:
  void handedOver(const QString& url);

 private:
  const QString path_;
  QLocalServer server_;
};
