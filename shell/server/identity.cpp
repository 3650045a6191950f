#include "server/identity.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <vector>

QByteArray identity_proof(const QByteArray& key, const QByteArray& challenge) {
  return QMessageAuthenticationCode::hash(challenge, key, QCryptographicHash::Sha256).toHex();
}

QByteArray random_hex(int count) {
  std::vector<quint32> words((static_cast<std::size_t>(count) + 3) / 4);
  QRandomGenerator::system()->fillRange(words.data(), static_cast<qsizetype>(words.size()));
  return QByteArray(reinterpret_cast<const char*>(words.data()), count).toHex();
}
