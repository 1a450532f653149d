#include "core/FGInt.h"
#include "platform/Exception.h"
#include <algorithm>
#include <array>
#include <bit>
#include <random>

namespace pelvox {

namespace {

using TLimbs = std::vector<uint32_t>;
using u128 = unsigned __int128;

// ---- Magnitudes ---------------------------------------------------------------

void TrimLimbs(TLimbs& v)
{
    while (!v.empty() && v.back() == 0)
        v.pop_back();
}

int CmpMag(const TLimbs& a, const TLimbs& b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (size_t i = a.size(); i-- > 0;)
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    return 0;
}

void AddMagInPlace(TLimbs& a, const TLimbs& b)
{
    if (a.size() < b.size())
        a.resize(b.size(), 0);
    uint64_t carry = 0;
    size_t i = 0;
    for (; i < b.size(); ++i) {
        carry += uint64_t(a[i]) + b[i];
        a[i] = uint32_t(carry);
        carry >>= 32;
    }
    for (; carry && i < a.size(); ++i) {
        carry += a[i];
        a[i] = uint32_t(carry);
        carry >>= 32;
    }
    if (carry)
        a.push_back(uint32_t(carry));
}

// a -= b; requires a >= b.
void SubMagInPlace(TLimbs& a, const TLimbs& b)
{
    uint64_t borrow = 0;
    size_t i = 0;
    for (; i < b.size(); ++i) {
        const uint64_t d = uint64_t(a[i]) - b[i] - borrow;
        a[i] = uint32_t(d);
        borrow = d >> 63;
    }
    for (; borrow && i < a.size(); ++i) {
        const uint64_t d = uint64_t(a[i]) - borrow;
        a[i] = uint32_t(d);
        borrow = d >> 63;
    }
    TrimLimbs(a);
}

TLimbs MulMag(const TLimbs& a, const TLimbs& b)
{
    if (a.empty() || b.empty())
        return {};
    TLimbs r(a.size() + b.size(), 0);
    for (size_t i = 0; i < a.size(); ++i) {
        uint64_t carry = 0;
        const uint64_t ai = a[i];
        for (size_t j = 0; j < b.size(); ++j) {
            carry += ai * b[j] + r[i + j];
            r[i + j] = uint32_t(carry);
            carry >>= 32;
        }
        r[i + b.size()] = uint32_t(carry);
    }
    TrimLimbs(r);
    return r;
}

uint32_t DivSmallMagInPlace(TLimbs& a, uint32_t d)
{
    uint64_t rem = 0;
    for (size_t i = a.size(); i-- > 0;) {
        rem = rem << 32 | a[i];
        a[i] = uint32_t(rem / d);
        rem %= d;
    }
    TrimLimbs(a);
    return uint32_t(rem);
}

void ShiftLeftMag(TLimbs& a, int bits)
{
    if (a.empty() || bits <= 0)
        return;
    const size_t words = size_t(bits) / 32;
    const int rest = bits % 32;
    a.insert(a.begin(), words, 0);
    if (rest) {
        uint32_t carry = 0;
        for (size_t i = words; i < a.size(); ++i) {
            const uint32_t v = a[i];
            a[i] = v << rest | carry;
            carry = v >> (32 - rest);
        }
        if (carry)
            a.push_back(carry);
    }
}

void ShiftRightMag(TLimbs& a, int bits)
{
    if (bits <= 0)
        return;
    const size_t words = size_t(bits) / 32;
    if (words >= a.size()) {
        a.clear();
        return;
    }
    a.erase(a.begin(), a.begin() + ptrdiff_t(words));
    const int rest = bits % 32;
    if (rest) {
        for (size_t i = 0; i < a.size(); ++i)
            a[i] = a[i] >> rest | (i + 1 < a.size() ? a[i + 1] << (32 - rest) : 0);
    }
    TrimLimbs(a);
}

// Schoolbook long division (Knuth, algorithm D). b must not be zero.
void DivModMag(const TLimbs& a, const TLimbs& b, TLimbs& q, TLimbs& r)
{
    if (CmpMag(a, b) < 0) {
        q.clear();
        r = a;
        return;
    }
    if (b.size() == 1) {
        q = a;
        const uint32_t rem = DivSmallMagInPlace(q, b[0]);
        r.assign(rem ? 1 : 0, rem);
        return;
    }
    const int s = std::countl_zero(b.back());
    TLimbs bn = b, an = a;
    ShiftLeftMag(bn, s);
    ShiftLeftMag(an, s);
    an.resize(a.size() + 1, 0);
    const size_t n = bn.size(), m = an.size() - n;
    q.assign(m, 0);
    const uint64_t top = bn[n - 1], next = bn[n - 2];
    for (size_t j = m; j-- > 0;) {
        const uint64_t num = uint64_t(an[j + n]) << 32 | an[j + n - 1];
        uint64_t qhat = num / top, rhat = num % top;
        while (qhat >> 32 || qhat * next > (rhat << 32 | an[j + n - 2])) {
            --qhat;
            rhat += top;
            if (rhat >> 32)
                break;
        }
        int64_t borrow = 0;
        uint64_t carry = 0;
        for (size_t i = 0; i < n; ++i) {
            const uint64_t p = qhat * bn[i] + carry;
            carry = p >> 32;
            const int64_t t = int64_t(an[i + j]) - borrow - int64_t(p & 0xffffffffu);
            an[i + j] = uint32_t(t);
            borrow = t < 0 ? 1 : 0;
        }
        const int64_t t = int64_t(an[j + n]) - borrow - int64_t(carry);
        an[j + n] = uint32_t(t);
        if (t < 0) { // qhat was one too large: add the divisor back
            --qhat;
            uint64_t c = 0;
            for (size_t i = 0; i < n; ++i) {
                c += uint64_t(an[i + j]) + bn[i];
                an[i + j] = uint32_t(c);
                c >>= 32;
            }
            an[j + n] += uint32_t(c);
        }
        q[j] = uint32_t(qhat);
    }
    TrimLimbs(q);
    an.resize(n);
    ShiftRightMag(an, s);
    TrimLimbs(an);
    r = std::move(an);
}

TFGInt Make(TLimbs limbs, TSign sign)
{
    TFGInt r;
    r.Limbs = std::move(limbs);
    r.Sign = sign;
    r.Normalize();
    return r;
}

TSign Opposite(TSign s) { return s == TSign::positive ? TSign::negative : TSign::positive; }

// ---- 64-bit moduli (every modulus of the protocol's curves) -----------------

uint64_t MulModU64(uint64_t a, uint64_t b, uint64_t m) { return uint64_t(u128(a) * b % m); }

uint64_t PowModU64(uint64_t a, const TFGInt& e, uint64_t m)
{
    uint64_t r = 1 % m;
    for (int i = e.BitLength(); i-- > 0;) {
        r = MulModU64(r, r, m);
        if (e.Bit(i))
            r = MulModU64(r, a, m);
    }
    return r;
}

// Inverse of a (already reduced) modulo m, or 0 when there is none.
uint64_t InvModU64(uint64_t a, uint64_t m)
{
    __int128 oldR = a, r = m, oldS = 1, s = 0;
    while (r != 0) {
        const __int128 q = oldR / r;
        __int128 t = oldR - q * r;
        oldR = r;
        r = t;
        t = oldS - q * s;
        oldS = s;
        s = t;
    }
    if (oldR != 1)
        return 0;
    if (oldS < 0)
        oldS += m;
    return uint64_t(oldS) % m;
}

// ---- Small primes -------------------------------------------------------------

constexpr int SmallPrimeCount = 1228; // odd primes 3..9973

constexpr std::array<uint16_t, SmallPrimeCount> MakeSmallPrimes()
{
    std::array<bool, 10000> composite{};
    std::array<uint16_t, SmallPrimeCount> primes{};
    int n = 0;
    for (int i = 3; i < 10000; i += 2) {
        if (composite[size_t(i)])
            continue;
        primes[size_t(n++)] = uint16_t(i);
        for (int j = i * i; j < 10000; j += 2 * i)
            composite[size_t(j)] = true;
    }
    return primes;
}

constexpr std::array<uint16_t, SmallPrimeCount> SmallPrimes = MakeSmallPrimes();
static_assert(SmallPrimes[0] == 3 && SmallPrimes[SmallPrimeCount - 1] == 9973 &&
              SmallPrimes[SmallPrimeCount - 2] == 9967);

std::mt19937& WitnessRandom()
{
    thread_local std::mt19937 engine{std::random_device{}()};
    return engine;
}

constexpr char Radix64Alphabet[] = "aAbBcCdDeEfFgGhHiIjJkKlLmMnNoOpPqQrRsStTuUvVwWxXyYzZ0123456789+=";

Exception NotAnInteger(const QString& AText)
{
    return Exception(QStringLiteral("'%1' is not a valid integer value").arg(AText));
}

} // namespace

// ---- TFGInt ---------------------------------------------------------------------

TFGInt TFGInt::FromUInt64(uint64_t AValue)
{
    TFGInt r;
    r.Limbs = {uint32_t(AValue), uint32_t(AValue >> 32)};
    r.Normalize();
    return r;
}

TFGInt TFGInt::FromInt(int64_t AValue)
{
    TFGInt r = FromUInt64(AValue < 0 ? 0 - uint64_t(AValue) : uint64_t(AValue));
    if (AValue < 0)
        r.Sign = TSign::negative;
    return r;
}

uint64_t TFGInt::LowUInt64() const
{
    uint64_t v = Limbs.empty() ? 0 : Limbs[0];
    if (Limbs.size() > 1)
        v |= uint64_t(Limbs[1]) << 32;
    return v;
}

int TFGInt::BitLength() const
{
    return Limbs.empty() ? 0 : int(32 * Limbs.size()) - std::countl_zero(Limbs.back());
}

bool TFGInt::Bit(int AIndex) const
{
    const size_t w = size_t(AIndex) / 32;
    return w < Limbs.size() && (Limbs[w] >> (AIndex % 32) & 1);
}

void TFGInt::Normalize()
{
    TrimLimbs(Limbs);
    if (Limbs.empty())
        Sign = TSign::positive;
}

QByteArray ByteStringFromText(const QString& AText)
{
    QByteArray out(AText.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < AText.size(); ++i) {
        const char16_t c = AText.at(i).unicode();
        if (c > 0xff)
            throw Exception(QStringLiteral("Invalid byte string"));
        out[i] = char(c);
    }
    return out;
}

// ---- Conversions -----------------------------------------------------------------

TFGInt BigFromBase2Text(const QString& AText)
{
    qsizetype start = 0;
    while (start < AText.size() && AText[start] == u'0')
        ++start;
    const qsizetype bits = AText.size() - start;
    TLimbs limbs(size_t((bits + 31) / 32), 0);
    for (qsizetype i = 0; i < bits; ++i)
        if (AText[AText.size() - 1 - i] == u'1')
            limbs[size_t(i / 32)] |= 1u << (i % 32);
    return Make(std::move(limbs), TSign::positive);
}

QString BigToBase2Text(const TFGInt& A)
{
    if (A.IsZero())
        return QStringLiteral("0");
    const int bits = A.BitLength();
    QString out(bits, u'0');
    for (int i = 0; i < bits; ++i)
        if (A.Bit(i))
            out[bits - 1 - i] = u'1';
    return out;
}

TFGInt BigFromBase256(const QByteArray& ABytes)
{
    const qsizetype n = ABytes.size();
    TLimbs limbs(size_t((n + 3) / 4), 0);
    for (qsizetype i = 0; i < n; ++i)
        limbs[size_t(i / 4)] |= uint32_t(uint8_t(ABytes[n - 1 - i])) << (8 * (i % 4));
    return Make(std::move(limbs), TSign::positive);
}

QByteArray BigToBase256(const TFGInt& A)
{
    if (A.IsZero())
        return QByteArray(1, '\0');
    const int bytes = (A.BitLength() + 7) / 8;
    QByteArray out(bytes, Qt::Uninitialized);
    for (int i = 0; i < bytes; ++i)
        out[bytes - 1 - i] = char(A.Limbs[size_t(i / 4)] >> (8 * (i % 4)));
    return out;
}

TFGInt BigFromDecimal(const QString& AText)
{
    QStringView s(AText);
    while (s.size() > 1 && s[0] != u'-' && !(s[0] >= u'0' && s[0] <= u'9'))
        s = s.mid(1);
    bool negative = false;
    if (!s.isEmpty() && s[0] == u'-') {
        negative = true;
        s = s.mid(1);
    }
    while (s.size() > 1 && s[0] == u'0')
        s = s.mid(1);
    if (s.isEmpty())
        throw NotAnInteger(AText);
    for (QChar c : s)
        if (c.unicode() < '0' || c.unicode() > '9')
            throw NotAnInteger(s.toString());
    TFGInt r;
    for (qsizetype i = 0; i < s.size(); i += 9) {
        const QStringView group = s.mid(i, 9);
        uint32_t scale = 1, value = 0;
        for (QChar c : group) {
            scale *= 10;
            value = value * 10 + uint32_t(c.unicode() - '0');
        }
        BigMulSmallInPlace(r, scale);
        AddMagInPlace(r.Limbs, TLimbs{value});
        TrimLimbs(r.Limbs);
    }
    r.Sign = negative ? TSign::negative : TSign::positive;
    r.Normalize();
    return r;
}

QString BigToDecimal(const TFGInt& A)
{
    if (A.IsZero())
        return QStringLiteral("0");
    TLimbs m = A.Limbs;
    QString digits;
    while (!m.empty()) {
        uint32_t group = DivSmallMagInPlace(m, 1000000000u);
        for (int i = 0; i < 9 && (group || !m.empty()); ++i) {
            digits.append(QChar(u'0' + group % 10));
            group /= 10;
        }
    }
    if (A.IsNegative())
        digits.append(u'-');
    std::reverse(digits.begin(), digits.end());
    return digits;
}

QString Base256ToRadix64(const QByteArray& ABytes)
{
    QString out;
    out.reserve((ABytes.size() * 8 + 5) / 6);
    uint32_t acc = 0;
    int bits = 0;
    for (char c : ABytes) {
        acc = (acc << 8 | uint8_t(c)) & 0xffff;
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            out.append(QLatin1Char(Radix64Alphabet[(acc >> bits) & 63]));
        }
    }
    if (bits > 0)
        out.append(QLatin1Char(Radix64Alphabet[(acc << (6 - bits)) & 63]));
    return out;
}

QByteArray Radix64ToBase256(const QString& AText)
{
    static constexpr auto Values = [] {
        std::array<int8_t, 256> v{};
        v.fill(-1);
        for (int i = 0; i < 64; ++i)
            v[uint8_t(Radix64Alphabet[i])] = int8_t(i);
        return v;
    }();
    QByteArray out;
    out.reserve(AText.size() * 6 / 8);
    uint32_t acc = 0;
    int bits = 0;
    for (QChar c : AText) {
        const char16_t u = c.unicode();
        if (u > 0xff || Values[u] < 0)
            continue;
        acc = (acc << 6 | uint32_t(Values[u])) & 0xffff;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.append(char(acc >> bits));
        }
    }
    return out;
}

// ---- Arithmetic ----------------------------------------------------------------------

TFGInt BigAdd(const TFGInt& A, const TFGInt& B)
{
    TFGInt r = A;
    if (A.Sign == B.Sign || B.IsZero()) {
        AddMagInPlace(r.Limbs, B.Limbs);
        if (A.IsZero())
            r.Sign = B.Sign;
    } else if (CmpMag(A.Limbs, B.Limbs) >= 0) {
        SubMagInPlace(r.Limbs, B.Limbs);
    } else {
        r = B;
        SubMagInPlace(r.Limbs, A.Limbs);
    }
    r.Normalize();
    return r;
}

TFGInt BigSub(const TFGInt& A, const TFGInt& B)
{
    TFGInt nb = B;
    BigNegate(nb);
    return BigAdd(A, nb);
}

void BigNegate(TFGInt& A)
{
    A.Sign = Opposite(A.Sign);
    A.Normalize();
}

void BigAbs(TFGInt& A) { A.Sign = TSign::positive; }

TCompareResult BigCompareAbs(const TFGInt& A, const TFGInt& B)
{
    const int c = CmpMag(A.Limbs, B.Limbs);
    return c > 0 ? TCompareResult::crLarger : c < 0 ? TCompareResult::crSmaller : TCompareResult::crEqual;
}

int BigCompare(const TFGInt& A, const TFGInt& B)
{
    if (A.Sign != B.Sign)
        return A.IsNegative() ? -1 : 1;
    const int c = CmpMag(A.Limbs, B.Limbs);
    return A.IsNegative() ? -c : c;
}

void BigAddAbsInPlace(TFGInt& A, const TFGInt& B)
{
    AddMagInPlace(A.Limbs, B.Limbs);
    A.Normalize();
}

void BigSubAbsInPlace(TFGInt& A, const TFGInt& B)
{
    if (CmpMag(A.Limbs, B.Limbs) < 0)
        throw Exception(QStringLiteral("BigSubAbsInPlace: second magnitude is larger"));
    SubMagInPlace(A.Limbs, B.Limbs);
    A.Normalize();
}

TFGInt BigMul(const TFGInt& A, const TFGInt& B)
{
    return Make(MulMag(A.Limbs, B.Limbs), A.Sign == B.Sign ? TSign::positive : TSign::negative);
}

TFGInt BigSquare(const TFGInt& A) { return Make(MulMag(A.Limbs, A.Limbs), TSign::positive); }

void BigMulSmallInPlace(TFGInt& A, uint32_t AMultiplier)
{
    uint64_t carry = 0;
    for (uint32_t& limb : A.Limbs) {
        carry += uint64_t(limb) * AMultiplier;
        limb = uint32_t(carry);
        carry >>= 32;
    }
    if (carry)
        A.Limbs.push_back(uint32_t(carry));
    A.Normalize();
}

void BigShiftRight1(TFGInt& A) { BigShiftRight(A, 1); }

void BigShiftLeft(TFGInt& A, int ABits)
{
    ShiftLeftMag(A.Limbs, ABits);
    A.Normalize();
}

void BigShiftRight(TFGInt& A, int ABits)
{
    ShiftRightMag(A.Limbs, ABits);
    A.Normalize();
}

static void CheckDivisor(bool AZero)
{
    if (AZero)
        throw Exception(QStringLiteral("Division by zero"));
}

void BigDivSmallInPlace(TFGInt& A, uint32_t ADivisor, uint32_t& ARemainder)
{
    CheckDivisor(ADivisor == 0);
    ARemainder = DivSmallMagInPlace(A.Limbs, ADivisor);
    A.Normalize();
}

TFGInt BigDivSmall(const TFGInt& A, uint32_t ADivisor, uint32_t& ARemainder)
{
    TFGInt q = A;
    BigDivSmallInPlace(q, ADivisor, ARemainder);
    if (A.IsNegative() && ARemainder != 0)
        ARemainder = ADivisor - ARemainder;
    return q;
}

uint32_t BigModSmall(const TFGInt& A, uint32_t ADivisor)
{
    CheckDivisor(ADivisor == 0);
    uint64_t rem = 0;
    for (size_t i = A.Limbs.size(); i-- > 0;)
        rem = (rem << 32 | A.Limbs[i]) % ADivisor;
    if (A.IsNegative() && rem != 0)
        rem = ADivisor - rem;
    return uint32_t(rem);
}

void BigDivMod(const TFGInt& A, const TFGInt& B, TFGInt& AQuotient, TFGInt& ARemainder)
{
    CheckDivisor(B.IsZero());
    TLimbs q, r;
    DivModMag(A.Limbs, B.Limbs, q, r);
    if (A.IsNegative() && !r.empty()) {
        AddMagInPlace(q, TLimbs{1});
        TLimbs adjusted = B.Limbs;
        SubMagInPlace(adjusted, r);
        r = std::move(adjusted);
    }
    // a >= 0: sign of b; a < 0: opposite of b's.
    const TSign qSign = A.IsNegative() ? Opposite(B.Sign) : B.Sign;
    AQuotient = Make(std::move(q), qSign);
    ARemainder = Make(std::move(r), TSign::positive);
}

TFGInt BigDiv(const TFGInt& A, const TFGInt& B)
{
    TFGInt q, r;
    BigDivMod(A, B, q, r);
    return q;
}

TFGInt BigMod(const TFGInt& A, const TFGInt& B)
{
    CheckDivisor(B.IsZero());
    if (B.FitsUInt64() && A.FitsUInt64()) {
        const uint64_t m = B.LowUInt64();
        uint64_t r = A.LowUInt64() % m;
        if (A.IsNegative() && r)
            r = m - r;
        return TFGInt::FromUInt64(r);
    }
    TFGInt q, r;
    BigDivMod(A, B, q, r);
    return r;
}

TFGInt BigAddMod(const TFGInt& A, const TFGInt& B, const TFGInt& AModulus)
{
    return BigMod(BigAdd(A, B), AModulus);
}

TFGInt BigMulMod(const TFGInt& A, const TFGInt& B, const TFGInt& AModulus)
{
    if (AModulus.FitsUInt64() && A.FitsUInt64() && B.FitsUInt64() && !A.IsNegative() && !B.IsNegative()) {
        CheckDivisor(AModulus.IsZero());
        return TFGInt::FromUInt64(uint64_t(u128(A.LowUInt64()) * B.LowUInt64() % AModulus.LowUInt64()));
    }
    return BigMod(BigMul(A, B), AModulus);
}

TFGInt BigSquareMod(const TFGInt& A, const TFGInt& AModulus) { return BigMulMod(A, A, AModulus); }

TFGInt BigModExp(const TFGInt& A, const TFGInt& E, const TFGInt& AModulus)
{
    const TFGInt base = BigMod(A, AModulus);
    if (base.IsZero())
        return base;
    if (E.IsZero())
        return TFGInt::FromInt(1);
    if (AModulus.FitsUInt64())
        return TFGInt::FromUInt64(PowModU64(base.LowUInt64(), E, AModulus.LowUInt64()));
    TFGInt r = TFGInt::FromInt(1);
    for (int i = E.BitLength(); i-- > 0;) {
        r = BigSquareMod(r, AModulus);
        if (E.Bit(i))
            r = BigMulMod(r, base, AModulus);
    }
    return r;
}

TFGInt BigGcd(const TFGInt& A, const TFGInt& B)
{
    TLimbs a = A.Limbs, b = B.Limbs, q, r;
    while (!b.empty()) {
        DivModMag(a, b, q, r);
        a = std::move(b);
        b = std::move(r);
    }
    return Make(std::move(a), TSign::positive);
}

TFGInt BigModInv(const TFGInt& A, const TFGInt& AModulus)
{
    const TFGInt a = BigMod(A, AModulus);
    if (AModulus.FitsUInt64())
        return TFGInt::FromUInt64(InvModU64(a.LowUInt64(), AModulus.LowUInt64()));
    TFGInt m = AModulus;
    BigAbs(m);
    TFGInt oldR = a, r = m, oldS = TFGInt::FromInt(1), s, q, rem;
    while (!r.IsZero()) {
        BigDivMod(oldR, r, q, rem);
        oldR = std::move(r);
        r = std::move(rem);
        TFGInt t = BigSub(oldS, BigMul(q, s));
        oldS = std::move(s);
        s = std::move(t);
    }
    if (!oldR.IsOne())
        return TFGInt();
    return BigMod(oldS, m);
}

int BigLegendre(const TFGInt& A, const TFGInt& P)
{
    // Euler's criterion: a^((p-1)/2) is 1 for residues and p-1 for the others.
    const TFGInt a = BigMod(A, P);
    if (a.IsZero())
        return 0;
    TFGInt e = P;
    BigAbs(e);
    BigShiftRight1(e);
    return BigModExp(a, e, P).IsOne() ? 1 : -1;
}

TFGInt BigSqrtModP(const TFGInt& A, const TFGInt& P)
{
    const TFGInt a = BigMod(A, P);
    if (a.IsZero())
        return a;
    const TFGInt one = TFGInt::FromInt(1);
    // The first quadratic non-residue from 2 upwards (bounded for a
    // modulus that is not prime after all).
    TFGInt z = TFGInt::FromInt(2);
    while (BigLegendre(z, P) != -1 && BigCompare(z, P) < 0)
        z = BigAdd(z, one);
    TFGInt q = BigSub(P, one);
    int s = 0;
    while (!q.IsZero() && !q.IsOdd()) {
        BigShiftRight1(q);
        ++s;
    }
    TFGInt c = BigModExp(z, q, P);
    TFGInt half = BigAdd(q, one);
    BigShiftRight1(half);
    TFGInt r = BigModExp(a, half, P);
    const TFGInt ainv = BigModInv(a, P);
    for (int i = 0; i <= s - 2; ++i) {
        TFGInt t = BigMulMod(ainv, BigSquareMod(r, P), P);
        for (int j = 0; j < s - i - 2; ++j)
            t = BigSquareMod(t, P);
        if (!t.IsOne())
            r = BigMulMod(r, c, P);
        if (i != s - 2)
            c = BigSquareMod(c, P);
    }
    return r;
}

// ---- Primality ---------------------------------------------------------------------------

bool BigTrialDivision(const TFGInt& A)
{
    if (!A.IsOdd())
        return false;
    if (A.FitsUInt64()) {
        const uint64_t v = A.LowUInt64();
        for (uint16_t p : SmallPrimes)
            if (v % p == 0)
                return false;
        return true;
    }
    for (uint16_t p : SmallPrimes)
        if (BigModSmall(A, p) == 0)
            return false;
    return true;
}

bool BigRabinMiller(const TFGInt& A, int ARounds)
{
    TFGInt n = A;
    BigAbs(n);
    const TFGInt one = TFGInt::FromInt(1);
    if (BigCompare(n, one) <= 0)
        return false;
    const TFGInt nMinus1 = BigSub(n, one);
    TFGInt m = nMinus1;
    int b = 0;
    while (!m.IsOdd()) {
        BigShiftRight1(m);
        ++b;
    }
    // Witnesses: the odd primes 3..9967.
    std::uniform_int_distribution<int> pick(0, SmallPrimeCount - 2);
    for (int round = 0; round < ARounds; ++round) {
        const TFGInt w = TFGInt::FromUInt64(SmallPrimes[size_t(pick(WitnessRandom()))]);
        TFGInt z = BigModExp(w, m, n);
        if (z.IsOne() || z == nMinus1)
            continue;
        bool passed = false;
        for (int j = 1; j < b && !passed; ++j) {
            z = BigSquareMod(z, n);
            if (z == nMinus1)
                passed = true;
            else if (z.IsOne())
                return false;
        }
        if (!passed)
            return false;
    }
    return true;
}

bool BigIsPrime(const TFGInt& A, int ARounds) { return BigTrialDivision(A) && BigRabinMiller(A, ARounds); }

std::span<const uint16_t> BigSmallOddPrimes() { return SmallPrimes; }

} // namespace pelvox
