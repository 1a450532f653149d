#include "core/FGInt.h"
#include "platform/Exception.h"
#include <functional>
#include <gmp.h>
#include <gtest/gtest.h>
#include <random>

using namespace pelvox;

namespace {

// GMP integers as the reference.
struct Z {
    mpz_t v;
    Z() { mpz_init(v); }
    explicit Z(long x) { mpz_init_set_si(v, x); }
    Z(const Z& o) { mpz_init_set(v, o.v); }
    Z& operator=(const Z& o)
    {
        mpz_set(v, o.v);
        return *this;
    }
    ~Z() { mpz_clear(v); }
    std::string Str() const
    {
        std::string s(mpz_sizeinbase(v, 10) + 2, '\0');
        mpz_get_str(s.data(), 10, v);
        return s.c_str();
    }
};

TFGInt ToBig(const Z& z)
{
    QByteArray bytes((mpz_sizeinbase(z.v, 2) + 7) / 8, '\0');
    size_t count = 0;
    mpz_export(bytes.data(), &count, 1, 1, 1, 0, z.v);
    bytes.resize(qsizetype(count));
    TFGInt r = BigFromBase256(bytes);
    if (mpz_sgn(z.v) < 0)
        BigNegate(r);
    return r;
}

Z ToZ(const TFGInt& a)
{
    const QByteArray bytes = BigToBase256(a);
    Z z;
    mpz_import(z.v, size_t(bytes.size()), 1, 1, 1, 0, bytes.constData());
    if (a.IsNegative())
        mpz_neg(z.v, z.v);
    return z;
}

std::string Str(const TFGInt& a) { return ToZ(a).Str(); }

class Random {
public:
    Random() { gmp_randinit_mt(FState), gmp_randseed_ui(FState, 12345); }
    ~Random() { gmp_randclear(FState); }
    // 1 to 300 bits, random sign.
    Z Signed(int minBits = 1)
    {
        Z z = Unsigned(minBits);
        if (Int(2))
            mpz_neg(z.v, z.v);
        return z;
    }
    Z Unsigned(int minBits = 1)
    {
        const int bits = minBits + Int(300 - minBits + 1);
        Z z;
        mpz_urandomb(z.v, FState, mp_bitcnt_t(bits));
        mpz_setbit(z.v, mp_bitcnt_t(bits - 1));
        return z;
    }
    Z OddModulus()
    {
        Z m = Unsigned(2);
        mpz_setbit(m.v, 0);
        return m;
    }
    Z Prime()
    {
        Z p = Unsigned(2);
        mpz_nextprime(p.v, p.v);
        return p;
    }
    int Int(int below) { return int(gmp_urandomm_ui(FState, unsigned(below))); }

private:
    gmp_randstate_t FState;
};

// a = q*b + r with 0 <= r < |b|.
void EuclidRef(Z& q, Z& r, const Z& a, const Z& b)
{
    mpz_mod(r.v, a.v, b.v);
    Z t;
    mpz_sub(t.v, a.v, r.v);
    mpz_divexact(q.v, t.v, b.v);
}

constexpr int Rounds = 300;

} // namespace

TEST(FGInt, BinaryOperationsAgreeWithGMP)
{
    struct Op {
        const char* name;
        std::function<TFGInt(const TFGInt&, const TFGInt&)> ours;
        std::function<void(Z&, const Z&, const Z&)> ref;
    };
    const Op ops[] = {
        {"add", BigAdd, [](Z& r, const Z& a, const Z& b) { mpz_add(r.v, a.v, b.v); }},
        {"sub", BigSub, [](Z& r, const Z& a, const Z& b) { mpz_sub(r.v, a.v, b.v); }},
        {"mul", BigMul, [](Z& r, const Z& a, const Z& b) { mpz_mul(r.v, a.v, b.v); }},
        {"square", [](const TFGInt& a, const TFGInt&) { return BigSquare(a); },
         [](Z& r, const Z& a, const Z&) { mpz_mul(r.v, a.v, a.v); }},
        {"div", BigDiv, [](Z& r, const Z& a, const Z& b) { Z m; EuclidRef(r, m, a, b); }},
        {"mod", BigMod, [](Z& r, const Z& a, const Z& b) { Z q; EuclidRef(q, r, a, b); }},
        {"gcd", BigGcd, [](Z& r, const Z& a, const Z& b) { mpz_gcd(r.v, a.v, b.v); }},
        {"addAbsInPlace",
         [](const TFGInt& a, const TFGInt& b) { TFGInt r = a; BigAddAbsInPlace(r, b); return r; },
         [](Z& r, const Z& a, const Z& b) {
             Z x, y;
             mpz_abs(x.v, a.v), mpz_abs(y.v, b.v), mpz_add(r.v, x.v, y.v);
             if (mpz_sgn(a.v) < 0)
                 mpz_neg(r.v, r.v);
         }},
        {"subAbsInPlace",
         [](const TFGInt& a, const TFGInt& b) {
             TFGInt big = a, small = b;
             if (BigCompareAbs(a, b) == TCompareResult::crSmaller)
                 std::swap(big, small);
             BigSubAbsInPlace(big, small);
             return big;
         },
         [](Z& r, const Z& a, const Z& b) {
             const bool swap = mpz_cmpabs(a.v, b.v) < 0;
             const Z& big = swap ? b : a;
             Z x, y;
             mpz_abs(x.v, a.v), mpz_abs(y.v, b.v);
             mpz_sub(r.v, swap ? y.v : x.v, swap ? x.v : y.v);
             if (mpz_sgn(big.v) < 0)
                 mpz_neg(r.v, r.v);
         }},
        {"compareAbs",
         [](const TFGInt& a, const TFGInt& b) {
             const TCompareResult c = BigCompareAbs(a, b);
             return TFGInt::FromInt(c == TCompareResult::crLarger ? 1 : c == TCompareResult::crSmaller ? -1 : 0);
         },
         [](Z& r, const Z& a, const Z& b) { mpz_set_si(r.v, (mpz_cmpabs(a.v, b.v) > 0) - (mpz_cmpabs(a.v, b.v) < 0)); }},
    };
    Random rnd;
    for (const Op& op : ops) {
        for (int i = 0; i < Rounds; ++i) {
            const Z a = i % 50 == 0 ? Z(0) : rnd.Signed();
            // Also equal magnitudes and operands one limb apart.
            Z b = i % 7 == 0 ? a : rnd.Signed();
            if (i % 7 == 0 && i % 2)
                mpz_neg(b.v, b.v);
            if (mpz_sgn(b.v) == 0)
                b = Z(3);
            Z expected;
            op.ref(expected, a, b);
            const TFGInt got = op.ours(ToBig(a), ToBig(b));
            ASSERT_EQ(Str(got), expected.Str()) << op.name << " a=" << a.Str() << " b=" << b.Str();
            ASSERT_FALSE(got.IsZero() && got.IsNegative()) << op.name;
        }
    }
}

TEST(FGInt, SmallDivisorOperationsFollowTheSignRules)
{
    Random rnd;
    for (int i = 0; i < Rounds; ++i) {
        const Z a = i % 40 == 0 ? Z(0) : rnd.Signed();
        const uint32_t d = i % 3 == 0 ? uint32_t(1 + rnd.Int(100)) : uint32_t(1 + rnd.Int(0x7fffffff));
        const TFGInt big = ToBig(a);
        const bool negative = mpz_sgn(a.v) < 0;
        Z q;
        const unsigned long magRem = mpz_tdiv_q_ui(q.v, a.v, d); // truncated: sign of a, |r|
        const unsigned long modRem = mpz_fdiv_ui(a.v, d);        // 0..d-1

        uint32_t rem = 0;
        EXPECT_EQ(Str(BigDivSmall(big, d, rem)), q.Str());
        EXPECT_EQ(rem, negative && magRem ? d - magRem : magRem);
        TFGInt inPlace = big;
        BigDivSmallInPlace(inPlace, d, rem);
        EXPECT_EQ(Str(inPlace), q.Str());
        EXPECT_EQ(rem, magRem);
        EXPECT_EQ(BigModSmall(big, d), modRem);

        Z product;
        mpz_mul_ui(product.v, a.v, d);
        TFGInt m = big;
        BigMulSmallInPlace(m, d);
        EXPECT_EQ(Str(m), product.Str());

        Z half;
        mpz_tdiv_q_2exp(half.v, a.v, 1);
        TFGInt h = big;
        BigShiftRight1(h);
        EXPECT_EQ(Str(h), half.Str());
    }
}

TEST(FGInt, ModularOperationsAgreeWithGMP)
{
    Random rnd;
    for (int i = 0; i < Rounds; ++i) {
        const Z a = rnd.Signed(), b = rnd.Signed(), m = rnd.OddModulus();
        const TFGInt A = ToBig(a), B = ToBig(b), M = ToBig(m);
        Z r;
        mpz_add(r.v, a.v, b.v), mpz_mod(r.v, r.v, m.v);
        EXPECT_EQ(Str(BigAddMod(A, B, M)), r.Str());
        mpz_mul(r.v, a.v, b.v), mpz_mod(r.v, r.v, m.v);
        EXPECT_EQ(Str(BigMulMod(A, B, M)), r.Str());
        mpz_mul(r.v, a.v, a.v), mpz_mod(r.v, r.v, m.v);
        EXPECT_EQ(Str(BigSquareMod(A, M)), r.Str());
        Z e;
        mpz_abs(e.v, b.v);
        mpz_powm(r.v, a.v, e.v, m.v);
        EXPECT_EQ(Str(BigModExp(A, ToBig(e), M)), r.Str()) << a.Str() << "^" << e.Str() << " mod " << m.Str();
        if (!mpz_invert(r.v, a.v, m.v))
            mpz_set_ui(r.v, 0);
        EXPECT_EQ(Str(BigModInv(A, M)), r.Str()) << a.Str() << " mod " << m.Str();
    }
    EXPECT_EQ(Str(BigModExp(TFGInt::FromInt(5), TFGInt(), TFGInt::FromInt(7))), "1");
    EXPECT_EQ(Str(BigModExp(TFGInt::FromInt(14), TFGInt::FromInt(3), TFGInt::FromInt(7))), "0");
    EXPECT_EQ(Str(BigModInv(TFGInt::FromInt(6), TFGInt::FromInt(9))), "0");
}

TEST(FGInt, LegendreAndSquareRootsModuloPrimes)
{
    Random rnd;
    for (int i = 0; i < Rounds; ++i) {
        const Z p = rnd.Prime();
        if (mpz_cmp_ui(p.v, 2) == 0)
            continue;
        const Z a = rnd.Signed();
        const TFGInt P = ToBig(p);
        EXPECT_EQ(BigLegendre(ToBig(a), P), mpz_legendre(a.v, p.v)) << a.Str() << " / " << p.Str();
        // A square's root squares back to it.
        Z sq;
        mpz_mul(sq.v, a.v, a.v), mpz_mod(sq.v, sq.v, p.v);
        const Z root = ToZ(BigSqrtModP(ToBig(sq), P));
        Z check;
        mpz_mul(check.v, root.v, root.v), mpz_mod(check.v, check.v, p.v);
        EXPECT_EQ(check.Str(), sq.Str()) << "sqrt of " << sq.Str() << " mod " << p.Str();
        EXPECT_LT(mpz_cmp(root.v, p.v), 0);
        EXPECT_GE(mpz_sgn(root.v), 0);
        if (mpz_fdiv_ui(p.v, 4) == 3) { // the procedure gives a^((p+1)/4)
            Z e, expected;
            mpz_add_ui(e.v, p.v, 1), mpz_fdiv_q_2exp(e.v, e.v, 2);
            mpz_powm(expected.v, sq.v, e.v, p.v);
            EXPECT_EQ(root.Str(), expected.Str());
        }
    }
    const auto I = TFGInt::FromInt;
    EXPECT_EQ(Str(BigSqrtModP(I(4), I(7))), "2");
    EXPECT_EQ(Str(BigSqrtModP(I(4), I(13))), "11");
    EXPECT_EQ(Str(BigSqrtModP(I(0), I(13))), "0");
    EXPECT_EQ(BigLegendre(I(-1), I(7)), -1);
    EXPECT_EQ(BigLegendre(I(14), I(7)), 0);
}

TEST(FGInt, PrimalityAgreesWithGMP)
{
    Random rnd;
    int primes = 0;
    for (int i = 0; i < Rounds; ++i) {
        Z n = i % 2 ? rnd.Unsigned(50) : rnd.Prime();
        if (mpz_sizeinbase(n.v, 2) < 20)
            mpz_nextprime(n.v, Z(20000).v);
        const bool expected = mpz_probab_prime_p(n.v, 40) > 0;
        primes += expected;
        EXPECT_EQ(BigIsPrime(ToBig(n), 20), expected) << n.Str();
    }
    EXPECT_GT(primes, Rounds / 3);
    const auto I = TFGInt::FromInt;
    EXPECT_FALSE(BigIsPrime(I(9973), 20)); // a trial divisor itself
    EXPECT_TRUE(BigIsPrime(I(10007), 20));
    EXPECT_FALSE(BigTrialDivision(I(2)));
    EXPECT_FALSE(BigTrialDivision(I(10007LL * 10009)) && BigRabinMiller(I(10007LL * 10009), 10));
    // Strong pseudoprime to bases 2 and 3, caught by other witnesses.
    EXPECT_FALSE(BigIsPrime(I(1373653), 20));
}

TEST(FGInt, EuclideanDivisionExamples)
{
    const auto I = TFGInt::FromInt;
    struct Case {
        int64_t a, b, q, r;
    };
    const Case cases[] = {{-7, 3, -3, 2}, {7, -3, -2, 1}, {-7, -3, 3, 2}, {7, 3, 2, 1}, {-6, 3, -2, 0}, {0, -5, 0, 0}};
    for (const Case& c : cases) {
        TFGInt q, r;
        BigDivMod(I(c.a), I(c.b), q, r);
        EXPECT_EQ(q, I(c.q)) << c.a << " / " << c.b;
        EXPECT_EQ(r, I(c.r)) << c.a << " / " << c.b;
    }
    EXPECT_THROW(BigDiv(I(1), TFGInt()), Exception);
    TFGInt small = I(3);
    EXPECT_THROW(BigSubAbsInPlace(small, I(4)), Exception);
}

TEST(FGInt, ByteAndTextForms)
{
    const auto I = TFGInt::FromInt;
    EXPECT_EQ(BigToBase256(TFGInt()), QByteArray(1, '\0'));
    EXPECT_EQ(BigToBase256(I(255)), QByteArray("\xff"));
    EXPECT_EQ(BigToBase256(I(256)), QByteArray("\x01\x00", 2));
    EXPECT_EQ(BigToBase256(I(-256)), QByteArray("\x01\x00", 2));
    EXPECT_EQ(BigFromBase256("AB"), I(16706));
    EXPECT_EQ(BigFromBase256(QByteArray("\0\0\x01", 3)), I(1));
    EXPECT_EQ(BigFromBase256(""), TFGInt());
    EXPECT_EQ(BigFromBase256("EE2036A1"), I(0x4545323033364131LL));

    EXPECT_EQ(BigFromBase2Text("0010x1"), I(9));
    EXPECT_EQ(BigToBase2Text(I(9)), "1001");
    EXPECT_EQ(BigToBase2Text(TFGInt()), "0");

    EXPECT_EQ(BigFromDecimal("  -0012"), I(-12));
    EXPECT_EQ(BigFromDecimal("000"), TFGInt());
    EXPECT_EQ(BigFromDecimal("-0"), TFGInt());
    EXPECT_EQ(BigFromDecimal("x123456789012"), I(123456789012LL));
    EXPECT_THROW(BigFromDecimal("12a4"), Exception);
    EXPECT_THROW(BigFromDecimal("abc"), Exception);
    EXPECT_THROW(BigFromDecimal(""), Exception);
    Random rnd;
    for (int i = 0; i < 50; ++i) {
        const Z z = rnd.Signed();
        EXPECT_EQ(Str(BigFromDecimal(QString::fromStdString(z.Str()))), z.Str());
        EXPECT_EQ(BigToDecimal(ToBig(z)).toStdString(), z.Str());
    }
    EXPECT_THROW(ByteStringFromText(QString(QChar(0x100))), Exception);
}

TEST(FGInt, Radix64)
{
    EXPECT_EQ(Base256ToRadix64(QByteArray(1, '\0')), "aa");
    EXPECT_EQ(Base256ToRadix64("\xff\xff\xff"), "====");
    EXPECT_EQ(Base256ToRadix64(""), "");
    EXPECT_EQ(Radix64ToBase256("aa"), QByteArray(1, '\0'));
    EXPECT_EQ(Radix64ToBase256("a-a"), QByteArray(1, '\0'));
    EXPECT_EQ(Radix64ToBase256(QString::fromUtf16(u"a\u4e2da")), QByteArray(1, '\0'));
    // Values 0, 1, 51, 52 and 62, 63, 0, 0.
    EXPECT_EQ(Base256ToRadix64(QByteArray::fromHex("001cf4")), "aAZ0");
    EXPECT_EQ(Base256ToRadix64(QByteArray::fromHex("fbf000")), "+=aa");
    std::mt19937 rng(5);
    for (int n = 0; n < 40; ++n) {
        QByteArray b(n, Qt::Uninitialized);
        for (char& c : b)
            c = char(rng());
        const QString text = Base256ToRadix64(b);
        EXPECT_EQ(text.size(), (8 * n + 5) / 6);
        EXPECT_EQ(Radix64ToBase256(text), b);
    }
}
