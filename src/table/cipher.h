#pragma once

#include <QByteArray>
#include <QString>

#include <stdexcept>

// A cipher text that cannot be deciphered.
class TCipherError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The string cipher: AES in electronic-codebook mode with its own framing (an 8-byte little-endian
// length prefix, zero padding of the last block) written as upper-case hexadecimal text. It works
// on byte texts in the ANSI code page; callers convert.
//
// Key size codes: 0 = 128 bits, 1 = 192 bits, 2 = 256 bits. The key text's bytes fill a zeroed key
// buffer of that size (a longer key is cut).

// Trims bytes up to 0x20 at both ends, then enciphers. Never fails.
QByteArray EncryptText(const QByteArray& Value, const QByteArray& Key, int KeySize = 0);
// Deciphers and trims bytes up to 0x20 at both ends (the padding). Raises TCipherError with
// "Stream read error" for a text shorter than the length prefix, "Invalid buffer size for
// decryption" when what follows the prefix is not a whole, non-zero number of blocks, and
// "Invalid hexadecimal text" for characters that are no hexadecimal digits. The empty text gives
// the empty text.
QByteArray DecryptText(const QByteArray& Value, const QByteArray& Key, int KeySize = 0);

QByteArray BytesToHex(const QByteArray& Bytes);
// Two characters per byte, either letter case; an odd last character is ignored. Raises
// TCipherError for a character that is no hexadecimal digit.
QByteArray HexToBytes(const QByteArray& Text);
