#pragma once

#include "base/result.h"

#include <QByteArray>

// Ed25519 signatures (RFC 8032), as the publisher signs what it publishes.

inline constexpr int Ed25519PublicKeyBytes = 32;
inline constexpr int Ed25519SignatureBytes = 64;

// Whether `signature` (64 bytes) is the signature of every byte of `message` under the public key
// `publicKey` (its 32 raw bytes). Fails with TErrc::Refused and why not (a key or signature of the
// wrong size, a signature that does not verify).
TStatus VerifyEd25519(const QByteArray& publicKey, const QByteArray& message, const QByteArray& signature);
