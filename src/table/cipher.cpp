#include "table/cipher.h"

#include <openssl/evp.h>

#include <memory>

namespace {

const EVP_CIPHER* cipherFor(int keySize) {
    switch (keySize) {
    case 1:
        return EVP_aes_192_ecb();
    case 2:
        return EVP_aes_256_ecb();
    default:
        return EVP_aes_128_ecb();
    }
}

int keyBytes(int keySize) {
    return keySize == 1 ? 24 : keySize == 2 ? 32 : 16;
}

QByteArray keyBuffer(const QByteArray& key, int keySize) {
    QByteArray buffer(keyBytes(keySize), '\0');
    std::copy_n(key.constData(), std::min<qsizetype>(key.size(), buffer.size()), buffer.data());
    return buffer;
}

// Runs whole blocks through AES in one direction; the input is a multiple of 16 bytes.
QByteArray transform(const QByteArray& input, const QByteArray& key, int keySize, bool encrypt) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    const QByteArray k = keyBuffer(key, keySize);
    QByteArray out(input.size() + 16, '\0');
    int written = 0, last = 0;
    if (!ctx ||
        EVP_CipherInit_ex(ctx.get(), cipherFor(keySize), nullptr,
                          reinterpret_cast<const uchar*>(k.constData()), nullptr, encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_CipherUpdate(ctx.get(), reinterpret_cast<uchar*>(out.data()), &written,
                         reinterpret_cast<const uchar*>(input.constData()), int(input.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), reinterpret_cast<uchar*>(out.data()) + written, &last) != 1)
        throw TCipherError("AES failed");
    out.truncate(written + last);
    return out;
}

QByteArray trimmed(const QByteArray& bytes) {
    qsizetype b = 0, e = bytes.size();
    while (b < e && uchar(bytes[b]) <= 0x20)
        ++b;
    while (e > b && uchar(bytes[e - 1]) <= 0x20)
        --e;
    return bytes.mid(b, e - b);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

QByteArray BytesToHex(const QByteArray& Bytes) {
    return Bytes.toHex().toUpper();
}

QByteArray HexToBytes(const QByteArray& Text) {
    QByteArray out(Text.size() / 2, '\0');
    for (qsizetype i = 0; i < out.size(); ++i) {
        const int hi = hexDigit(Text[2 * i]), lo = hexDigit(Text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            throw TCipherError("Invalid hexadecimal text");
        out[i] = char(hi << 4 | lo);
    }
    return out;
}

QByteArray EncryptText(const QByteArray& Value, const QByteArray& Key, int KeySize) {
    QByteArray plain = trimmed(Value);
    QByteArray layout(8, '\0');
    quint64 length = quint64(plain.size());
    for (int i = 0; i < 8; ++i, length >>= 8)
        layout[i] = char(length & 0xFF);
    if (plain.size() % 16)
        plain.append(16 - plain.size() % 16, '\0');
    layout += transform(plain, Key, KeySize, true);
    return BytesToHex(layout);
}

QByteArray DecryptText(const QByteArray& Value, const QByteArray& Key, int KeySize) {
    if (Value.isEmpty())
        return {};
    const QByteArray bytes = HexToBytes(Value);
    if (bytes.size() < 8)
        throw TCipherError("Stream read error");
    const QByteArray blocks = bytes.mid(8); // the length prefix is not used: trimming finds the end
    if (blocks.isEmpty() || blocks.size() % 16)
        throw TCipherError("Invalid buffer size for decryption");
    return trimmed(transform(blocks, Key, KeySize, false));
}
