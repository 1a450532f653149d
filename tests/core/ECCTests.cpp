#include "core/ECC.h"
#include <QRegularExpression>
#include <gmp.h>
#include <gtest/gtest.h>
#include <random>

using namespace pelvox;

namespace {

struct Z {
    mpz_t v;
    explicit Z(const TFGInt& a)
    {
        mpz_init(v);
        const QByteArray bytes = BigToBase256(a);
        mpz_import(v, size_t(bytes.size()), 1, 1, 1, 0, bytes.constData());
        if (a.IsNegative())
            mpz_neg(v, v);
    }
    Z() { mpz_init(v); }
    ~Z() { mpz_clear(v); }
    Z(const Z&) = delete;
};

const TECCurve& Curve(const char* seed)
{
    static const TECCurve client = ECGenerateCurve(ClientCurvePrime);
    static const TECCurve server = ECGenerateCurve(ServerCurvePrime);
    return QByteArray(seed) == ClientCurvePrime ? client : server;
}

TECC& ClientKey()
{
    static const std::unique_ptr<TECC> ecc = [] {
        auto e = std::make_unique<TECC>();
        e->Init(ClientCurvePrime);
        e->SetRandomParamter("0123456789AB");
        e->SetPrivateKey("C0FFEE123456");
        return e;
    }();
    return *ecc;
}

} // namespace

class CurveGeneration : public testing::TestWithParam<const char*> {};

TEST_P(CurveGeneration, GivesAPrimeOrderBasePoint)
{
    const QByteArray seedText = GetParam();
    const TECCurve& c = Curve(GetParam());
    const Z seed(BigFromBase256(seedText)), p(c.p), n(c.n), h(c.h);

    // p is a prime at least two past the seed.
    Z gap;
    mpz_sub(gap.v, p.v, seed.v);
    EXPECT_GE(mpz_cmp_ui(gap.v, 2), 0);
    EXPECT_GT(mpz_probab_prime_p(p.v, 40), 0);
    EXPECT_EQ(ECCoordinateLength(c.p), 8);

    // The discriminant's table and the CM order: N = p + 1 - t with
    // 4p - t^2 = D * v^2, within Hasse's bound.
    const std::vector<int> allowed{1, 2, 3, 7, 11, 19, 43, 67, 163};
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), c.D), allowed.end());
    Z N, t, rest, v;
    mpz_mul(N.v, h.v, n.v);
    mpz_add_ui(t.v, p.v, 1);
    mpz_sub(t.v, t.v, N.v);
    mpz_mul_ui(rest.v, p.v, 4);
    mpz_submul(rest.v, t.v, t.v);
    EXPECT_GE(mpz_sgn(rest.v), 0);
    EXPECT_TRUE(mpz_divisible_ui_p(rest.v, unsigned(c.D)));
    mpz_divexact_ui(v.v, rest.v, unsigned(c.D));
    EXPECT_TRUE(mpz_perfect_square_p(v.v));

    // n is a prime of at least 50 bits without small factors in h's way,
    // g lies on the curve and has order n.
    EXPECT_GT(mpz_probab_prime_p(n.v, 40), 0);
    EXPECT_GE(c.n.BitLength(), 50);
    EXPECT_FALSE(c.g.Infinity);
    EXPECT_TRUE(ECPointOnCurve(c.g, c.p, c.a, c.b));
    EXPECT_TRUE(ECPointMultiply(c.g, c.n, c.p, c.a).Infinity);
    EXPECT_LT(BigCompare(c.a, c.p), 0);
    EXPECT_LT(BigCompare(c.b, c.p), 0);

    // Deterministic: a second run (as the server's) gives the same curve.
    const TECCurve again = ECGenerateCurve(seedText);
    EXPECT_EQ(again.p, c.p);
    EXPECT_EQ(again.a, c.a);
    EXPECT_EQ(again.b, c.b);
    EXPECT_EQ(again.g, c.g);
    EXPECT_EQ(again.n, c.n);
    EXPECT_EQ(again.h, c.h);
}

// The curves the procedure reaches (the server's side of the exchange has the
// same): for "EE2036A1" the primes ...559 and ...561 before p have no order
// with a prime factor of 50 bits; for "6244E9BD" the prime ...627 neither.
TEST(CurveGeneration, ProtocolCurvesAreTheKnownOnes)
{
    struct Golden {
        const char* seed;
        int D;
        const char *p, *a, *b, *n, *h, *gx, *gy;
    };
    const Golden curves[] = {
        {ClientCurvePrime, 2, "4991450944609075603", "4991450944609075573", "56", "952930688997019", "5238",
         "4654864831221173525", "2411036652556769034"},
        {ServerCurvePrime, 1, "3905241225987965681", "3", "0", "15620964907397761", "250", "571990600213897752",
         "1895292534669679046"},
    };
    for (const Golden& g : curves) {
        const TECCurve& c = Curve(g.seed);
        EXPECT_EQ(c.D, g.D) << g.seed;
        EXPECT_EQ(BigToDecimal(c.p), g.p) << g.seed;
        EXPECT_EQ(BigToDecimal(c.a), g.a) << g.seed;
        EXPECT_EQ(BigToDecimal(c.b), g.b) << g.seed;
        EXPECT_EQ(BigToDecimal(c.n), g.n) << g.seed;
        EXPECT_EQ(BigToDecimal(c.h), g.h) << g.seed;
        EXPECT_EQ(BigToDecimal(c.g.XCoordinate), g.gx) << g.seed;
        EXPECT_EQ(BigToDecimal(c.g.YCoordinate), g.gy) << g.seed;
    }
}

INSTANTIATE_TEST_SUITE_P(ProtocolCurves, CurveGeneration, testing::Values(ClientCurvePrime, ServerCurvePrime));

TEST(ECPoint, Encoding)
{
    const TECCurve& c = Curve(ClientCurvePrime);
    EXPECT_EQ(ECPointToText(TECPoint::AtInfinity(), c.p, true), QByteArray(1, '\0'));
    EXPECT_TRUE(ECPointFromText(QByteArray(1, '\0'), c.p, c.a, c.b).Infinity);

    TECPoint five;
    five.XCoordinate = TFGInt::FromInt(5);
    five.YCoordinate = TFGInt::FromInt(6);
    EXPECT_EQ(ECPointToText(five, c.p, true), QByteArray("\x02\0\0\0\0\0\0\0\x05", 9));

    for (int i = 1; i < 20; ++i) {
        const TECPoint P = ECPointMultiply(c.g, TFGInt::FromInt(i * 7919), c.p, c.a);
        for (bool compressed : {true, false}) {
            const QByteArray text = ECPointToText(P, c.p, compressed);
            EXPECT_EQ(text.size(), compressed ? 9 : 17);
            EXPECT_EQ(ECPointFromText(text, c.p, c.a, c.b), P);
        }
        // The other prefix gives the negated point.
        QByteArray other = ECPointToText(P, c.p, true);
        other[0] = char(other[0] ^ 1);
        const TECPoint Q = ECPointFromText(other, c.p, c.a, c.b);
        EXPECT_EQ(Q, ECPointNegate(P, c.p));
        EXPECT_NE(Q, P);
        EXPECT_EQ(ECPointToText(Q, c.p, true), other);
    }
}

TEST(ECPoint, ArithmeticIsAGroup)
{
    const TECCurve& c = Curve(ServerCurvePrime);
    const auto mul = [&](int64_t e, const TECPoint& P) { return ECPointMultiply(P, TFGInt::FromInt(e), c.p, c.a); };
    const TECPoint g3 = mul(3, c.g), g5 = mul(5, c.g);
    EXPECT_EQ(ECPointAdd(g3, g5, c.p, c.a), mul(8, c.g));
    EXPECT_EQ(ECPointDouble(g5, c.p, c.a), mul(10, c.g));
    EXPECT_TRUE(ECPointAdd(g5, ECPointNegate(g5, c.p), c.p, c.a).Infinity);
    EXPECT_EQ(ECPointAdd(TECPoint::AtInfinity(), g3, c.p, c.a), g3);
    EXPECT_TRUE(mul(0, c.g).Infinity);
    EXPECT_EQ(ECPointMultiply(c.g, BigAdd(c.n, TFGInt::FromInt(2)), c.p, c.a), mul(2, c.g));
    EXPECT_TRUE(ECPointOnCurve(mul(123456789, c.g), c.p, c.a, c.b));
}

TEST(ECC, PublicKeyTexts)
{
    for (int i = 0; i < 10; ++i) {
        TECC ecc;
        ecc.Init(ClientCurvePrime);
        ecc.SetPrivateKey(NewECCSecretText());
        const QString key = ecc.PublicKey();
        ASSERT_EQ(key.size(), 12);
        const QByteArray bytes = Radix64ToBase256(key);
        ASSERT_EQ(bytes.size(), 9);
        EXPECT_TRUE(bytes[0] == 2 || bytes[0] == 3);

        TPublicECC peer;
        peer.Init(ClientCurvePrime);
        peer.SetPublicKey(key);
        EXPECT_EQ(peer.PublicPoint(), ecc.PublicPoint());
        EXPECT_EQ(peer.PublicKey(), key);
    }
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{12}$").match(NewECCSecretText()).hasMatch());
}

TEST(ECC, StateRules)
{
    TECC ecc;
    try {
        ecc.SetPrivateKey("0123456789AB");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "TECC has not init");
    }
    TPublicECC server;
    EXPECT_THROW(server.SetPublicKey("aRaSUBQ50XLs"), Exception);

    ecc.Init("");
    EXPECT_FALSE(ecc.HasInited());
    ecc.Init(ClientCurvePrime);
    ecc.Init(ServerCurvePrime);
    EXPECT_EQ(ecc.Prime(), ClientCurvePrime);
    EXPECT_EQ(ecc.Curve().p, Curve(ClientCurvePrime).p);

    ecc.SetPrivateKey("0123456789AB");
    const QString key = ecc.PublicKey();
    ecc.SetPrivateKey("");
    EXPECT_EQ(ecc.PublicKey(), key);
    ecc.SetRandomParamter("");
    EXPECT_EQ(ecc.RandomParamter(), "");
    ecc.SetRandomParamter("ABCDEF012345");
    EXPECT_EQ(ecc.RandomParamter(), "ABCDEF012345");

    ecc.UnInit();
    EXPECT_FALSE(ecc.HasInited());
    EXPECT_THROW(ecc.Decrypt("aa"), Exception);

    server.Init(ServerCurvePrime);
    EXPECT_THROW(server.SetPublicKey("aRaS"), EECFormatError); // 3 bytes: too short for a point
}

TEST(ECC, EncryptDecryptRoundTrip)
{
    std::mt19937 rng(6);
    for (int i = 0; i < 12; ++i) {
        TECC client;
        client.Init(ClientCurvePrime);
        client.SetPrivateKey(NewECCSecretText());
        // The other side enciphers for the client's public key.
        TPublicECC sender;
        sender.Init(ClientCurvePrime);
        sender.SetPublicKey(client.PublicKey());
        QByteArray message(int(rng() % 41), Qt::Uninitialized);
        for (char& ch : message)
            ch = char(rng() % 3 == 0 ? 0 : rng());
        const QString cipher = sender.Encrypt(message);
        EXPECT_EQ(client.Decrypt(cipher), message) << i;
        EXPECT_EQ(client.Decrypt(client.Encrypt(message)), message) << i;
    }
    EXPECT_EQ(ClientKey().Decrypt(""), QByteArray());
    EXPECT_EQ(ClientKey().Encrypt(""), QString());
    // A message of two chunks is two pairs, decrypted to the concatenation.
    const QByteArray twoChunks = "0123456789";
    const QString cipher = ClientKey().Encrypt(twoChunks);
    EXPECT_EQ(Radix64ToBase256(cipher).size(), 4 * 9);
    EXPECT_EQ(ClientKey().Decrypt(cipher), twoChunks);
}

TEST(ECC, ChunkFromMessageX)
{
    EXPECT_EQ(ECCChunkFromX(BigFromBase256(QByteArray::fromHex("024142431020"))), "ABC");
    EXPECT_EQ(ECCChunkFromX(BigFromBase256(QByteArray::fromHex("0341424310"))), "A");
    EXPECT_EQ(ECCChunkFromX(TFGInt()), "");
    EXPECT_THROW(ECCChunkFromX(BigFromBase256(QByteArray::fromHex("044142"))), EECFormatError);
}

TEST(ECC, MalformedCiphertextsRaise)
{
    const TECC& ecc = ClientKey();
    const TECCurve& c = ecc.Curve();
    const QByteArray valid = Radix64ToBase256(ecc.Encrypt("hello"));
    ASSERT_EQ(valid.size(), 18);

    // An x whose right side is not a square, and a message point whose count
    // byte exceeds its chunk.
    QByteArray noRoot;
    for (int x = 2; noRoot.isEmpty(); ++x) {
        TECPoint P;
        P.XCoordinate = TFGInt::FromInt(x);
        const TFGInt w = BigMod(BigAdd(BigMul(BigAdd(BigSquare(P.XCoordinate), c.a), P.XCoordinate), c.b), c.p);
        if (BigLegendre(w, c.p) == -1)
            noRoot = ECPointToText(P, c.p, true);
    }
    QByteArray badCount;
    for (int pad = 0; badCount.isEmpty(); ++pad) {
        const TFGInt x = BigFromBase256(QByteArray::fromHex("09414243") + char(pad));
        const TFGInt w = BigMod(BigAdd(BigMul(BigAdd(BigSquare(x), c.a), x), c.b), c.p);
        if (BigLegendre(w, c.p) != 1)
            continue;
        TECPoint M;
        M.XCoordinate = x;
        M.YCoordinate = BigSqrtModP(w, c.p);
        // C2 at infinity leaves M as it is.
        badCount = ECPointToText(M, c.p, true) + QByteArray(1, '\0');
    }
    QByteArray offCurve = ECPointToText(c.g, c.p, false);
    offCurve[16] = char(offCurve[16] ^ 1);
    QByteArray beyondP = QByteArray(1, 2) + QByteArray(8, char(0xff));

    struct Case {
        const char* what;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"truncated last point", valid.left(17)},
        {"truncated first point", valid.left(5)},
        {"lone last point", valid + valid.left(9)},
        {"lone point of unknown kind", QByteArray("\x07\x01\x02")},
        {"x without a square root", noRoot + valid.mid(9)},
        {"count byte beyond its chunk", badCount},
        {"uncompressed point off the curve", offCurve + QByteArray(1, '\0')},
        {"x not below p", beyondP + QByteArray(1, '\0')},
        {"valid pair, then garbage", valid + QByteArray("\x02\x01")},
    };
    for (const Case& k : cases)
        EXPECT_THROW(ecc.Decrypt(Base256ToRadix64(k.bytes)), EECFormatError) << k.what;
    EXPECT_EQ(ecc.Decrypt(Base256ToRadix64(valid)), "hello");
}
