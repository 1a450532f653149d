#include "core/ECC.h"
#include <QRandomGenerator>

namespace pelvox {

namespace {

// Message chunks ride in x as [count byte k][chunk][k pad bytes], one byte
// shorter than p so that x < p. One pad byte gives 256 tries to land on a
// curve point.
constexpr int PadBytes = 1;

TFGInt RandomScalar(const TFGInt& n)
{
    // Uniform enough: 128 random bits reduced modulo n - 1, plus one.
    QByteArray bytes(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), 4);
    const TFGInt nMinus1 = BigSub(n, TFGInt::FromInt(1));
    return BigAdd(BigMod(BigFromBase256(bytes), nMinus1), TFGInt::FromInt(1));
}

// The message point carrying one chunk.
TECPoint EmbedChunk(const QByteArray& AChunk, const TECCurve& c)
{
    QByteArray t = char(PadBytes) + AChunk + QByteArray(PadBytes, '\0');
    for (int pad = 0; pad < 256; ++pad) {
        t[t.size() - 1] = char(pad);
        TECPoint m;
        m.XCoordinate = BigFromBase256(t);
        const TFGInt w = BigMod(BigAdd(BigMul(BigAdd(BigSquareMod(m.XCoordinate, c.p), c.a), m.XCoordinate), c.b), c.p);
        if (BigLegendre(w, c.p) == -1)
            continue;
        m.YCoordinate = BigSqrtModP(w, c.p);
        return m;
    }
    throw Exception(QStringLiteral("No curve point for a message chunk"));
}

// Length of the encoded point starting at APos, by its first byte.
int EncodedPointLength(uint8_t AFirst, int L, int APrevious)
{
    switch (AFirst) {
    case 0: return 1;
    case 2:
    case 3: return L + 1;
    case 4: return 2 * L + 1;
    default: return APrevious;
    }
}

} // namespace

QByteArray ECCChunkFromX(const TFGInt& AX)
{
    const QByteArray t = BigToBase256(AX);
    const int count = uint8_t(t[0]);
    if (count > t.size() - 1)
        throw EECFormatError(QStringLiteral("Invalid ciphertext: count beyond its chunk"));
    return t.mid(1, t.size() - 1 - count);
}

QString NewECCSecretText()
{
    static const char digits[] = "0123456789ABCDEF";
    QString text(12, Qt::Uninitialized);
    for (QChar& c : text)
        c = QLatin1Char(digits[QRandomGenerator::system()->bounded(16)]);
    return text;
}

void TECCBase::Init(const QString& APrime)
{
    if (FHasInited || APrime.isEmpty())
        return;
    FCurve = ECGenerateCurve(ByteStringFromText(APrime));
    FPrime = APrime;
    FHasInited = true;
}

void TECCBase::UnInit()
{
    if (!FHasInited)
        return;
    FCurve = TECCurve();
    y = TECPoint();
    FPrime.clear();
    FPublicKey.clear();
    FHasInited = false;
}

void TECCBase::SetRandomParamter(const QString& AValue)
{
    if (AValue.isEmpty())
        return;
    k = BigFromBase256(ByteStringFromText(AValue));
    FRandomParamter = AValue;
}

void TECCBase::CheckInited() const
{
    if (!FHasInited)
        throw Exception(QStringLiteral("TECC has not init"));
}

QString TECCBase::Encrypt(const QByteArray& AIn) const
{
    CheckInited();
    if (FPublicKey.isEmpty())
        throw Exception(QStringLiteral("TECC has no public key"));
    const TECCurve& c = FCurve;
    const int L = ECCoordinateLength(c.p);
    const int chunkSize = L - 2 - PadBytes;
    if (chunkSize < 1)
        throw Exception(QStringLiteral("Curve too small to encipher"));
    QByteArray out;
    for (qsizetype pos = 0; pos < AIn.size(); pos += chunkSize) {
        const TECPoint m = EmbedChunk(AIn.mid(pos, chunkSize), c);
        const TFGInt r = RandomScalar(c.n);
        const TECPoint c1 = ECPointAdd(m, ECPointMultiply(y, r, c.p, c.a), c.p, c.a);
        const TECPoint c2 = ECPointMultiply(c.g, r, c.p, c.a);
        out += ECPointToText(c1, c.p, true);
        out += ECPointToText(c2, c.p, true);
    }
    return Base256ToRadix64(out);
}

void TECC::SetPrivateKey(const QString& AValue)
{
    CheckInited();
    if (AValue.isEmpty())
        return;
    x = BigFromBase256(ByteStringFromText(AValue));
    FPrivateKey = AValue;
    y = ECPointMultiply(FCurve.g, x, FCurve.p, FCurve.a);
    FPublicKey = Base256ToRadix64(ECPointToText(y, FCurve.p, true));
}

void TECC::UnInit()
{
    TECCBase::UnInit();
    x = TFGInt();
    FPrivateKey.clear();
}

QByteArray TECC::Decrypt(const QString& AIn) const
{
    CheckInited();
    if (FPrivateKey.isEmpty())
        throw Exception(QStringLiteral("TECC has no private key"));
    const TECCurve& c = FCurve;
    const QByteArray s = Radix64ToBase256(AIn);
    const int L = ECCoordinateLength(c.p);
    QByteArray result;
    qsizetype pos = 0;
    int previous = int(s.size()); // an unknown first byte at the start takes everything
    auto cutPoint = [&]() {
        const int len = EncodedPointLength(uint8_t(s[pos]), L, previous);
        if (len > s.size() - pos)
            throw EECFormatError(QStringLiteral("Invalid ciphertext: truncated point"));
        const TECPoint point = ECPointFromText(s.mid(pos, len), c.p, c.a, c.b);
        pos += len;
        previous = len;
        return point;
    };
    while (pos < s.size()) {
        const TECPoint c1 = cutPoint();
        if (pos >= s.size())
            throw EECFormatError(QStringLiteral("Invalid ciphertext: incomplete pair"));
        const TECPoint c2 = cutPoint();
        const TECPoint m = ECPointAdd(c1, ECPointNegate(ECPointMultiply(c2, x, c.p, c.a), c.p), c.p, c.a);
        result += ECCChunkFromX(m.XCoordinate);
    }
    return result;
}

void TPublicECC::SetPublicKey(const QString& AValue)
{
    CheckInited();
    if (AValue.isEmpty())
        return;
    y = ECPointFromText(Radix64ToBase256(AValue), FCurve.p, FCurve.a, FCurve.b);
    FPublicKey = AValue;
}

} // namespace pelvox
