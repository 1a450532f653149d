#include "core/MD5.h"
#include "platform/Exception.h"
#include <QFile>
#include <QUuid>
#include <cstring>

namespace pelvox {

namespace {

inline uint32_t Rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline uint32_t Load32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4); // little-endian host
    return v;
}

#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, x, t, s) \
    a += f(b, c, d) + (x) + (t);         \
    a = Rol(a, s) + b;

} // namespace

void TMD5Context::Init()
{
    FState[0] = 0x67452301;
    FState[1] = 0xefcdab89;
    FState[2] = 0x98badcfe;
    FState[3] = 0x10325476;
    FLength = 0;
}

void TMD5Context::Transform(const uint8_t* p, size_t ABlocks)
{
    uint32_t a = FState[0], b = FState[1], c = FState[2], d = FState[3];
    for (; ABlocks; --ABlocks, p += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = Load32(p + 4 * i);
        const uint32_t sa = a, sb = b, sc = c, sd = d;

        MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070db, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22)
        MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62a, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501, 22)
        MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7be, 22)
        MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438e, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821, 22)

        MD5_STEP(MD5_G, a, b, c, d, x[1], 0xf61e2562, 5)
        MD5_STEP(MD5_G, d, a, b, c, x[6], 0xc040b340, 9)
        MD5_STEP(MD5_G, c, d, a, b, x[11], 0x265e5a51, 14)
        MD5_STEP(MD5_G, b, c, d, a, x[0], 0xe9b6c7aa, 20)
        MD5_STEP(MD5_G, a, b, c, d, x[5], 0xd62f105d, 5)
        MD5_STEP(MD5_G, d, a, b, c, x[10], 0x02441453, 9)
        MD5_STEP(MD5_G, c, d, a, b, x[15], 0xd8a1e681, 14)
        MD5_STEP(MD5_G, b, c, d, a, x[4], 0xe7d3fbc8, 20)
        MD5_STEP(MD5_G, a, b, c, d, x[9], 0x21e1cde6, 5)
        MD5_STEP(MD5_G, d, a, b, c, x[14], 0xc33707d6, 9)
        MD5_STEP(MD5_G, c, d, a, b, x[3], 0xf4d50d87, 14)
        MD5_STEP(MD5_G, b, c, d, a, x[8], 0x455a14ed, 20)
        MD5_STEP(MD5_G, a, b, c, d, x[13], 0xa9e3e905, 5)
        MD5_STEP(MD5_G, d, a, b, c, x[2], 0xfcefa3f8, 9)
        MD5_STEP(MD5_G, c, d, a, b, x[7], 0x676f02d9, 14)
        MD5_STEP(MD5_G, b, c, d, a, x[12], 0x8d2a4c8a, 20)

        MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380c, 23)
        MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23)
        MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05, 23)
        MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23)

        MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039, 21)
        MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47d, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1, 21)
        MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21)
        MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391, 21)

        a += sa;
        b += sb;
        c += sc;
        d += sd;
    }
    FState[0] = a;
    FState[1] = b;
    FState[2] = c;
    FState[3] = d;
}

void TMD5Context::Update(const void* AData, size_t ASize)
{
    auto p = static_cast<const uint8_t*>(AData);
    size_t used = FLength & 63;
    FLength += ASize;
    if (used) {
        const size_t take = std::min(ASize, 64 - used);
        std::memcpy(FBuffer + used, p, take);
        p += take;
        ASize -= take;
        if (used + take < 64)
            return;
        Transform(FBuffer, 1);
    }
    if (ASize >= 64) {
        Transform(p, ASize / 64);
        p += ASize & ~size_t(63);
        ASize &= 63;
    }
    if (ASize)
        std::memcpy(FBuffer, p, ASize);
}

TMD5Digest TMD5Context::Final()
{
    const uint64_t bits = FLength * 8;
    static const uint8_t pad[64] = {0x80};
    const size_t used = FLength & 63;
    Update(pad, used < 56 ? 56 - used : 120 - used);
    uint8_t len[8];
    for (int i = 0; i < 8; ++i)
        len[i] = uint8_t(bits >> (8 * i));
    Update(len, 8);
    TMD5Digest out;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            out[4 * i + j] = uint8_t(FState[i] >> (8 * j));
    Init();
    return out;
}

TMD5Digest MD5Buffer(const void* AData, size_t ASize)
{
    TMD5Context ctx;
    ctx.Update(AData, ASize);
    return ctx.Final();
}

TMD5Digest MD5String(const QString& AText)
{
    TMD5Context ctx;
    uint8_t chunk[4096];
    const char16_t* s = reinterpret_cast<const char16_t*>(AText.utf16());
    qsizetype left = AText.size();
    while (left > 0) {
        const qsizetype n = std::min<qsizetype>(left, sizeof chunk);
        for (qsizetype i = 0; i < n; ++i)
            chunk[i] = uint8_t(s[i]);
        ctx.Update(chunk, size_t(n));
        s += n;
        left -= n;
    }
    return ctx.Final();
}

TMD5Digest MD5File(const QString& AFileName)
{
    QFile file(AFileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(AFileName, file.errorString()));
    TMD5Context ctx;
    char buffer[8192];
    // The size is taken once; a file that shrinks meanwhile is a read error.
    int64_t left = file.size();
    while (left > 0) {
        const int64_t want = std::min<int64_t>(left, sizeof buffer);
        const int64_t got = file.read(buffer, want);
        if (got <= 0)
            throw Exception(QStringLiteral("Stream read error"));
        ctx.Update(buffer, size_t(got));
        left -= got;
    }
    return ctx.Final();
}

QString MD5DigestToHex(const TMD5Digest& ADigest, bool ALowerCase)
{
    const char* digits = ALowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
    QString out(32, Qt::Uninitialized);
    QChar* d = out.data();
    for (uint8_t b : ADigest) {
        *d++ = QLatin1Char(digits[b >> 4]);
        *d++ = QLatin1Char(digits[b & 15]);
    }
    return out;
}

QString MD5TextToHex(const QString& AText, bool ALowerCase) { return MD5DigestToHex(MD5String(AText), ALowerCase); }

QString NewGUIDText() { return QUuid::createUuid().toString(QUuid::WithBraces).toUpper(); }

QString NewMessageId() { return MD5TextToHex(NewGUIDText(), false).toLower(); }

QString NewTransferId() { return MD5DigestToHex(MD5String(NewGUIDText()), true); }

} // namespace pelvox
