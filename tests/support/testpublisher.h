#pragma once

// The publisher's side of the signed self-update, for tests: a key pair of the test's own made with
// the publisher's script (scripts/sign-update.sh), signatures of it, and a program for this machine
// to publish.

#include "testfiles.h"

#include <QByteArray>
#include <QDir>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The version the published test program answers --version with ("Tovrel 9.8.7.6").
inline const QString FakeProgramVersion = QStringLiteral("9.8.7.6");

inline QByteArray FakeProgram() {
    return readFile(QStringLiteral(TOVREL_FAKE_PROGRAM));
}

class TTestPublisher {
  public:
    TTestPublisher() {
        m_key = m_dir.filePath(QStringLiteral("update-key.pem"));
        QProcess keygen;
        keygen.start(QStringLiteral(TOVREL_SIGN_SCRIPT), {QStringLiteral("keygen"), m_key});
        if (keygen.waitForFinished(30000) && keygen.exitCode() == 0)
            m_public = QByteArray::fromBase64(keygen.readAllStandardOutput().trimmed());
    }
    // The public key's 32 bytes (empty when the key could not be made).
    QByteArray PublicKey() const { return m_public; }
    // The signature file of `bytes` published under `name` as `version` (empty when it could not
    // be made).
    QByteArray Sign(const QByteArray& bytes, const QString& version, const QString& name = "Tovrel") {
        const QString folder = m_dir.filePath(QString::number(++m_signed));
        QDir().mkpath(folder);
        const QString file = folder + QLatin1Char('/') + name;
        writeFile(file, bytes);
        QProcess sign;
        sign.start(QStringLiteral(TOVREL_SIGN_SCRIPT), {QStringLiteral("sign"), m_key, file, version});
        if (!sign.waitForFinished(30000) || sign.exitCode() != 0)
            return {};
        return readFile(file + QStringLiteral(".sig"));
    }

  private:
    QTemporaryDir m_dir;
    QString m_key;
    QByteArray m_public;
    int m_signed = 0;
};
