#include "core/AES.h"
#include <QBuffer>
#include <QIODevice>
#include <cstring>

namespace pelvox {

namespace {

// ---- Tables, built at compile time ----------------------------------------

constexpr uint8_t XTime(uint8_t x) { return uint8_t((x << 1) ^ ((x & 0x80) ? 0x1b : 0)); }
constexpr uint8_t GMul(uint8_t a, uint8_t b)
{
    uint8_t r = 0;
    while (b) {
        if (b & 1)
            r ^= a;
        a = XTime(a);
        b >>= 1;
    }
    return r;
}

struct TTables {
    uint8_t S[256]{};
    uint8_t Si[256]{};
    uint32_t Te[256]{}; // forward round: (2s, s, s, 3s), most significant byte first
    uint32_t Td[256]{}; // inverse round: (14s', 9s', 13s', 11s') with s' the inverse S-box
};

constexpr TTables MakeTables()
{
    TTables t;
    // S-box from the multiplicative inverse and the affine map.
    uint8_t p = 1, q = 1;
    do {
        p = uint8_t(p ^ (p << 1) ^ ((p & 0x80) ? 0x1b : 0)); // p *= 3
        q ^= uint8_t(q << 1);
        q ^= uint8_t(q << 2);
        q ^= uint8_t(q << 4);
        if (q & 0x80)
            q ^= 0x09; // q /= 3
        const uint8_t x = uint8_t(q ^ uint8_t((q << 1) | (q >> 7)) ^ uint8_t((q << 2) | (q >> 6)) ^
                                  uint8_t((q << 3) | (q >> 5)) ^ uint8_t((q << 4) | (q >> 4)));
        t.S[p] = uint8_t(x ^ 0x63);
    } while (p != 1);
    t.S[0] = 0x63;
    for (int i = 0; i < 256; ++i)
        t.Si[t.S[i]] = uint8_t(i);
    for (int i = 0; i < 256; ++i) {
        const uint8_t s = t.S[i], si = t.Si[i];
        t.Te[i] = uint32_t(GMul(s, 2)) << 24 | uint32_t(s) << 16 | uint32_t(s) << 8 | GMul(s, 3);
        t.Td[i] = uint32_t(GMul(si, 14)) << 24 | uint32_t(GMul(si, 9)) << 16 | uint32_t(GMul(si, 13)) << 8 |
                  GMul(si, 11);
    }
    return t;
}

constexpr TTables Tab = MakeTables();
static_assert(Tab.S[0x53] == 0xed && Tab.Si[0xed] == 0x53);

inline uint32_t Ror(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
inline uint32_t Load(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
inline void Store(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// One forward or inverse round column from the single table and rotations.
#define ROUND_COL(T, a, b, c, d, k) \
    (T[(a) >> 24] ^ Ror(T[((b) >> 16) & 0xff], 8) ^ Ror(T[((c) >> 8) & 0xff], 16) ^ Ror(T[(d) & 0xff], 24) ^ (k))
#define LAST_COL(S, a, b, c, d, k)                                                                       \
    ((uint32_t(S[(a) >> 24]) << 24 | uint32_t(S[((b) >> 16) & 0xff]) << 16 | uint32_t(S[((c) >> 8) & 0xff]) << 8 | \
      uint32_t(S[(d) & 0xff])) ^                                                                        \
     (k))

const char* const InvalidSize = "Invalid buffer size for decryption";

// Reads exactly ACount bytes from the selected part of ASource.
int64_t SelectCount(QIODevice& ASource, int64_t ACount)
{
    if (ACount == 0) {
        ASource.seek(0);
        return ASource.size();
    }
    return std::max<int64_t>(0, std::min<int64_t>(ACount, ASource.size() - ASource.pos()));
}

template <bool Encrypt>
void ProcessStream(QIODevice& ASource, int64_t ACount, const TAESKey& AKey, QIODevice& ADest)
{
    int64_t left = SelectCount(ASource, ACount);
    if (!Encrypt && left % 16 != 0)
        throw EAESError(QString::fromLatin1(InvalidSize));
    if (left == 0)
        return;
    TAESExpandedKey key;
    if (Encrypt)
        AESExpandEncryptKey(AKey, key);
    else
        AESExpandDecryptKey(AKey, key);
    uint8_t buffer[4096];
    while (left > 0) {
        const int64_t want = std::min<int64_t>(left, sizeof buffer);
        if (ASource.read(reinterpret_cast<char*>(buffer), want) != want)
            throw Exception(QStringLiteral("Stream read error"));
        left -= want;
        const int64_t padded = (want + 15) & ~int64_t(15);
        std::memset(buffer + want, 0, size_t(padded - want));
        if (Encrypt)
            AESEncryptBlocks(key, buffer, buffer, size_t(padded / 16));
        else
            AESDecryptBlocks(key, buffer, buffer, size_t(padded / 16));
        if (ADest.write(reinterpret_cast<const char*>(buffer), padded) != padded)
            throw Exception(QStringLiteral("Stream write error"));
    }
}

QByteArray TextBytesWithNul(const QString& AText)
{
    QByteArray bytes(2 * (AText.size() + 1), '\0');
    const char16_t* s = reinterpret_cast<const char16_t*>(AText.utf16());
    for (qsizetype i = 0; i < AText.size(); ++i) {
        bytes[2 * i] = char(s[i] & 0xff);
        bytes[2 * i + 1] = char(s[i] >> 8);
    }
    return bytes;
}

int HexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

TAESKey AESKeyFromText(const QString& AKeyText)
{
    TAESKey key{};
    const qsizetype n = std::min<qsizetype>(16, AKeyText.size());
    for (qsizetype i = 0; i < n; ++i)
        key[size_t(i)] = uint8_t(AKeyText.at(i).unicode());
    return key;
}

TAESKey AESKeyFromBytes(const QByteArray& ABytes)
{
    TAESKey key{};
    std::memcpy(key.data(), ABytes.constData(), size_t(std::min<qsizetype>(16, ABytes.size())));
    return key;
}

void AESExpandEncryptKey(const TAESKey& AKey, TAESExpandedKey& AOut)
{
    uint32_t* rk = AOut.RoundKey;
    for (int i = 0; i < 4; ++i)
        rk[i] = Load(AKey.data() + 4 * i);
    uint8_t rcon = 1;
    for (int i = 4; i < 44; ++i) {
        uint32_t t = rk[i - 1];
        if (i % 4 == 0) {
            t = (uint32_t(Tab.S[(t >> 16) & 0xff]) << 24 | uint32_t(Tab.S[(t >> 8) & 0xff]) << 16 |
                 uint32_t(Tab.S[t & 0xff]) << 8 | Tab.S[t >> 24]) ^
                (uint32_t(rcon) << 24);
            rcon = XTime(rcon);
        }
        rk[i] = rk[i - 4] ^ t;
    }
}

void AESExpandDecryptKey(const TAESKey& AKey, TAESExpandedKey& AOut)
{
    TAESExpandedKey enc;
    AESExpandEncryptKey(AKey, enc);
    // Equivalent inverse cipher: round keys in reverse, 1 to 9 through InvMixColumns.
    for (int r = 0; r <= 10; ++r)
        for (int c = 0; c < 4; ++c)
            AOut.RoundKey[4 * r + c] = enc.RoundKey[4 * (10 - r) + c];
    for (int i = 4; i < 40; ++i) {
        const uint32_t w = AOut.RoundKey[i];
        AOut.RoundKey[i] = Tab.Td[Tab.S[w >> 24]] ^ Ror(Tab.Td[Tab.S[(w >> 16) & 0xff]], 8) ^
                           Ror(Tab.Td[Tab.S[(w >> 8) & 0xff]], 16) ^ Ror(Tab.Td[Tab.S[w & 0xff]], 24);
    }
}

void AESEncryptBlocks(const TAESExpandedKey& AKey, const uint8_t* AIn, uint8_t* AOut, size_t ABlocks)
{
    const uint32_t* const T = Tab.Te;
    for (; ABlocks; --ABlocks, AIn += 16, AOut += 16) {
        const uint32_t* rk = AKey.RoundKey;
        uint32_t s0 = Load(AIn) ^ rk[0], s1 = Load(AIn + 4) ^ rk[1], s2 = Load(AIn + 8) ^ rk[2],
                 s3 = Load(AIn + 12) ^ rk[3];
        uint32_t t0, t1, t2, t3;
#define ENC_ROUND(r)                                  \
    t0 = ROUND_COL(T, s0, s1, s2, s3, rk[4 * r + 0]); \
    t1 = ROUND_COL(T, s1, s2, s3, s0, rk[4 * r + 1]); \
    t2 = ROUND_COL(T, s2, s3, s0, s1, rk[4 * r + 2]); \
    t3 = ROUND_COL(T, s3, s0, s1, s2, rk[4 * r + 3]); \
    s0 = t0;                                          \
    s1 = t1;                                          \
    s2 = t2;                                          \
    s3 = t3;
        ENC_ROUND(1) ENC_ROUND(2) ENC_ROUND(3) ENC_ROUND(4) ENC_ROUND(5)
        ENC_ROUND(6) ENC_ROUND(7) ENC_ROUND(8) ENC_ROUND(9)
#undef ENC_ROUND
        Store(AOut, LAST_COL(Tab.S, s0, s1, s2, s3, rk[40]));
        Store(AOut + 4, LAST_COL(Tab.S, s1, s2, s3, s0, rk[41]));
        Store(AOut + 8, LAST_COL(Tab.S, s2, s3, s0, s1, rk[42]));
        Store(AOut + 12, LAST_COL(Tab.S, s3, s0, s1, s2, rk[43]));
    }
}

void AESDecryptBlocks(const TAESExpandedKey& AKey, const uint8_t* AIn, uint8_t* AOut, size_t ABlocks)
{
    const uint32_t* const T = Tab.Td;
    for (; ABlocks; --ABlocks, AIn += 16, AOut += 16) {
        const uint32_t* rk = AKey.RoundKey;
        uint32_t s0 = Load(AIn) ^ rk[0], s1 = Load(AIn + 4) ^ rk[1], s2 = Load(AIn + 8) ^ rk[2],
                 s3 = Load(AIn + 12) ^ rk[3];
        uint32_t t0, t1, t2, t3;
#define DEC_ROUND(r)                                  \
    t0 = ROUND_COL(T, s0, s3, s2, s1, rk[4 * r + 0]); \
    t1 = ROUND_COL(T, s1, s0, s3, s2, rk[4 * r + 1]); \
    t2 = ROUND_COL(T, s2, s1, s0, s3, rk[4 * r + 2]); \
    t3 = ROUND_COL(T, s3, s2, s1, s0, rk[4 * r + 3]); \
    s0 = t0;                                          \
    s1 = t1;                                          \
    s2 = t2;                                          \
    s3 = t3;
        DEC_ROUND(1) DEC_ROUND(2) DEC_ROUND(3) DEC_ROUND(4) DEC_ROUND(5)
        DEC_ROUND(6) DEC_ROUND(7) DEC_ROUND(8) DEC_ROUND(9)
#undef DEC_ROUND
        Store(AOut, LAST_COL(Tab.Si, s0, s3, s2, s1, rk[40]));
        Store(AOut + 4, LAST_COL(Tab.Si, s1, s0, s3, s2, rk[41]));
        Store(AOut + 8, LAST_COL(Tab.Si, s2, s1, s0, s3, rk[42]));
        Store(AOut + 12, LAST_COL(Tab.Si, s3, s2, s1, s0, rk[43]));
    }
}

QByteArray AESEncryptECB(const QByteArray& APlain, const TAESKey& AKey)
{
    QByteArray out = APlain;
    const qsizetype padded = (APlain.size() + 15) & ~qsizetype(15);
    out.resize(padded);
    std::memset(out.data() + APlain.size(), 0, size_t(padded - APlain.size()));
    TAESExpandedKey key;
    AESExpandEncryptKey(AKey, key);
    auto p = reinterpret_cast<uint8_t*>(out.data());
    AESEncryptBlocks(key, p, p, size_t(padded / 16));
    return out;
}

QByteArray AESDecryptECB(const QByteArray& ACipher, const TAESKey& AKey)
{
    if (ACipher.size() % 16 != 0)
        throw EAESError(QString::fromLatin1(InvalidSize));
    QByteArray out = ACipher;
    TAESExpandedKey key;
    AESExpandDecryptKey(AKey, key);
    auto p = reinterpret_cast<uint8_t*>(out.data());
    AESDecryptBlocks(key, p, p, size_t(out.size() / 16));
    return out;
}

void EncryptStreamECB(QIODevice& ASource, int64_t ACount, const TAESKey& AKey, QIODevice& ADest)
{
    ProcessStream<true>(ASource, ACount, AKey, ADest);
}

void DecryptStreamECB(QIODevice& ASource, int64_t ACount, const TAESKey& AKey, QIODevice& ADest)
{
    ProcessStream<false>(ASource, ACount, AKey, ADest);
}

void DecryptStreamWithKeyText(QIODevice& ASource, QIODevice& ADest, const QString& AKeyText)
{
    DecryptStreamECB(ASource, 0, AESKeyFromText(AKeyText), ADest);
}

QString EncryptTextToHex(const QString& AText, const QString& AKeyText)
{
    return BytesToHexText(AESEncryptECB(TextBytesWithNul(AText), AESKeyFromText(AKeyText)));
}

QString DecryptHexToText(const QString& AHex, const QString& AKeyText)
{
    const QByteArray plain = AESDecryptECB(HexTextToBytes(AHex), AESKeyFromText(AKeyText));
    QString text;
    text.reserve(plain.size() / 2);
    for (qsizetype i = 0; i + 1 < plain.size(); i += 2) {
        const char16_t unit = char16_t(uint8_t(plain[i]) | uint8_t(plain[i + 1]) << 8);
        if (unit == 0)
            break;
        text.append(QChar(unit));
    }
    return text;
}

QString BytesToHexText(const QByteArray& ABytes) { return QString::fromLatin1(ABytes.toHex().toUpper()); }

QString StreamToHexText(QBuffer& AStream) { return BytesToHexText(AStream.data()); }

QByteArray HexTextToBytes(const QString& AHex)
{
    QByteArray out((AHex.size() + 1) / 2, '\0');
    for (qsizetype i = 0; i < AHex.size(); i += 2) {
        const int hi = HexValue(AHex[i]);
        const bool pair = i + 1 < AHex.size();
        const int lo = pair ? HexValue(AHex[i + 1]) : 0;
        if (hi < 0 || lo < 0)
            throw Exception(QStringLiteral("'$%1' is not a valid integer value").arg(AHex.mid(i, 2)));
        out[i / 2] = char(pair ? hi << 4 | lo : hi);
    }
    return out;
}

void HexTextToStream(const QString& AHex, QBuffer& AStream)
{
    QByteArray bytes = HexTextToBytes(AHex);
    AStream.close();
    AStream.setData(bytes);
    AStream.open(QIODevice::ReadWrite);
    AStream.seek(0);
}

} // namespace pelvox
