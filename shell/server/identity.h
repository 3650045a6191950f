// How the window knows the server on the kit's port is the one it started: it
// gives the server a fresh secret key, and the server answers
// GET kIdentityPath?challenge=HEX with identity_proof(key, HEX).
#pragma once

#include <QByteArray>

inline constexpr char kIdentityPath[] = "/.varnkit/identity";
inline constexpr char kServerKeyVariable[] = "VARNKIT_SERVER_KEY";

// Lower-case hex of HMAC-SHA256 over `challenge` with `key`.
QByteArray identity_proof(const QByteArray& key, const QByteArray& challenge);

// `count` bytes from the system's random source as lower-case hex.
QByteArray random_hex(int count);
