#pragma once
#include "platform/Exception.h"
#include <QByteArray>
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>

class QIODevice;
class QBuffer;

namespace pelvox {

// AES-128 in ECB mode with zero padding of the last block. The round keys
// live in the caller's frame, so every routine is reentrant.

class EAESError : public Exception {
public:
    using Exception::Exception;
};

using TAESKey = std::array<uint8_t, 16>;

// The key of a key text: the low bytes of its first 16 characters, the rest
// zero. The text is neither hex-decoded nor hashed.
TAESKey AESKeyFromText(const QString& AKeyText);
// The same rule for a byte string (a session key): first 16 bytes, zero-filled.
TAESKey AESKeyFromBytes(const QByteArray& ABytes);

// Expanded key schedule for one direction.
struct TAESExpandedKey {
    uint32_t RoundKey[44];
};
void AESExpandEncryptKey(const TAESKey& AKey, TAESExpandedKey& AOut);
void AESExpandDecryptKey(const TAESKey& AKey, TAESExpandedKey& AOut);
// ABlocks whole blocks from AIn to AOut (which may be the same buffer).
void AESEncryptBlocks(const TAESExpandedKey& AKey, const uint8_t* AIn, uint8_t* AOut, size_t ABlocks);
void AESDecryptBlocks(const TAESExpandedKey& AKey, const uint8_t* AIn, uint8_t* AOut, size_t ABlocks);

// Buffers: encryption pads to a multiple of 16 with zeros; decryption raises
// EAESError "Invalid buffer size for decryption" for a size not a multiple
// of 16 and keeps the padding.
QByteArray AESEncryptECB(const QByteArray& APlain, const TAESKey& AKey);
QByteArray AESDecryptECB(const QByteArray& ACipher, const TAESKey& AKey);

// Streams (seekable devices). ACount 0 takes the whole source from its start,
// otherwise min(ACount, bytes after the current position) from there. The
// output is appended at the destination's current position. A short read
// raises "Stream read error", a short write "Stream write error".
void EncryptStreamECB(QIODevice& ASource, int64_t ACount, const TAESKey& AKey, QIODevice& ADest);
void DecryptStreamECB(QIODevice& ASource, int64_t ACount, const TAESKey& AKey, QIODevice& ADest);
void DecryptStreamWithKeyText(QIODevice& ASource, QIODevice& ADest, const QString& AKeyText);

// The text as UTF-16LE code units plus one NUL unit, enciphered, as
// upper-case hex.
QString EncryptTextToHex(const QString& AText, const QString& AKeyText);
// The inverse: the code units up to the first NUL unit.
QString DecryptHexToText(const QString& AHex, const QString& AKeyText);

// Two upper-case hex digits per byte.
QString StreamToHexText(QBuffer& AStream);
QString BytesToHexText(const QByteArray& ABytes);
// Pairs of hex digits (a lone last digit counts alone) to bytes; a pair that
// is not hexadecimal raises pelvox::Exception and nothing is written.
QByteArray HexTextToBytes(const QString& AHex);
// Replaces the stream's contents with the bytes and rewinds it.
void HexTextToStream(const QString& AHex, QBuffer& AStream);

} // namespace pelvox
