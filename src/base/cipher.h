#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

class QIODevice;

// The string cipher: AES in electronic-codebook mode with its own framing (an 8-byte little-endian
// length prefix, zero padding of the last block) written as upper-case hexadecimal text. It works
// on byte texts in the ANSI code page; callers convert.
//
// Key size codes: 0 = 128 bits, 1 = 192 bits, 2 = 256 bits. The key text's bytes fill a zeroed key
// buffer of that size (a longer key is cut).

// Trims bytes up to 0x20 at both ends, then enciphers. Never fails.
QByteArray EncryptText(const QByteArray& Value, const QByteArray& Key, int KeySize = 0);
// Deciphers and trims bytes up to 0x20 at both ends (the padding). Fails with TErrc::Damaged and
// "数据太短，无法读取" for a text shorter than the length prefix, "密文长度不对，无法解密" when what
// follows the prefix is not a whole, non-zero number of blocks, and "不是有效的十六进制文本" for
// characters that are no hexadecimal digits. The empty text gives the empty text.
TResult<QByteArray> DecryptText(const QByteArray& Value, const QByteArray& Key, int KeySize = 0,
                                bool checkLength = false);

// The same cipher over a device, for texts too large to hold three times over: the writer takes
// the plaintext in pieces (trimming as EncryptText does) and writes the hexadecimal text as it
// goes; Finish writes the last block and then the length prefix at the start, so the device must
// be seekable. A large text is written by a thread of the writer's own while the next pieces are
// made: the device must not be touched until Finish has returned (call it on failure too); a
// failed write may show only at a later Write or at Finish.
class TCipherWriter {
  public:
    TCipherWriter(QIODevice& out, const QByteArray& key, int keySize = 0);
    ~TCipherWriter();
    bool Write(const QByteArray& plain);
    bool Finish();

  private:
    bool emitBlocks(QByteArrayView bytes);
    bool writeBlocks(const char* bytes, qsizetype size);
    struct TState;
    std::unique_ptr<TState> d;
};

// The same cipher read from a device a piece at a time, for texts too large to hold twice: each
// AppendNext appends the next piece of the plaintext to `text` (with `checkLength`, only up to the
// stored length), untrimmed, and gives how many bytes it appended: none at the end. The errors are
// DecryptDevice's; the checks that need the whole text (the block count, the stored length against
// the padding) fail the call that reaches the end, so a reader must not count the text as read
// before a call has appended nothing.
class TCipherReader {
  public:
    TCipherReader(QIODevice& in, const QByteArray& key, int keySize = 0, bool checkLength = false);
    ~TCipherReader();
    TResult<qsizetype> AppendNext(QByteArray& text);

  private:
    struct TState;
    std::unique_ptr<TState> d;
};

// Deciphers the hexadecimal text a device holds from its current position to its end, reading it
// in pieces; the result and the errors are those of DecryptText. With `checkLength` the stored
// length must also agree with the content: the blocks hold exactly that many bytes followed by the
// zero padding (else "the stored length does not match the content"), which a truncated file or
// one enciphered under another key almost never passes.
TResult<QByteArray> DecryptDevice(QIODevice& in, const QByteArray& key, int keySize = 0,
                                  bool checkLength = false);

QByteArray BytesToHex(const QByteArray& Bytes);
// Two characters per byte, either letter case; an odd last character is ignored. Fails for a
// character that is no hexadecimal digit.
TResult<QByteArray> HexToBytes(const QByteArray& Text);

// The MD5 digest (RFC 1321) of the text's bytes in the ANSI code page, as 32 upper-case
// hexadecimal digits.
QString Md5Text(const QString& text);
