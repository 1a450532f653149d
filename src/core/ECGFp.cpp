#include "core/ECGFp.h"
#include <optional>

namespace pelvox {

namespace {

const TFGInt& One()
{
    static const TFGInt one = TFGInt::FromInt(1);
    return one;
}

TFGInt Int(int64_t v) { return TFGInt::FromInt(v); }

// (num / den) mod p.
TFGInt Slope(const TFGInt& num, const TFGInt& den, const TFGInt& p)
{
    return BigMulMod(BigMod(num, p), BigModInv(den, p), p);
}

// The point with slope l through P, and Q's x (chord and tangent alike).
TECPoint FromSlope(const TFGInt& l, const TECPoint& P, const TFGInt& qx, const TFGInt& p)
{
    TECPoint r;
    r.XCoordinate = BigMod(BigSub(BigSub(BigSquare(l), P.XCoordinate), qx), p);
    r.YCoordinate = BigMod(BigSub(BigMul(l, BigSub(P.XCoordinate, r.XCoordinate)), P.YCoordinate), p);
    return r;
}

// ---- Curve generation -------------------------------------------------------------

int PrimeSearchRounds(int ABits)
{
    return ABits < 160 ? 37 : ABits < 200 ? 29 : ABits < 260 ? 19 : ABits < 300 ? 13 : ABits < 460 ? 7 : 4;
}

constexpr int MinOrderBits = 50;

const std::vector<int>& DiscriminantsFor(uint32_t pMod8)
{
    static const std::vector<int> d1{1, 2, 3, 7, 11, 19, 43, 67, 163};
    static const std::vector<int> d3{2, 3, 7, 11, 19, 43, 67, 163};
    static const std::vector<int> d5{1, 3, 7, 11, 19, 43, 67, 163};
    static const std::vector<int> d7{3, 7, 11, 19, 43, 67, 163};
    switch (pMod8) {
    case 1: return d1;
    case 3: return d3;
    case 5: return d5;
    default: return d7;
    }
}

struct TBaseCurve {
    int D;
    int64_t a0, b0;
};
constexpr TBaseCurve BaseCurves[] = {
    {1, 1, 0},           {2, -30, 56},          {3, 0, 1},
    {7, -35, 98},        {11, -264, 1694},      {19, -152, 722},
    {43, -3440, 77658},  {67, -29480, 1948226}, {163, -8697680, 9873093538},
};

const TBaseCurve& BaseCurveFor(int D)
{
    for (const TBaseCurve& c : BaseCurves)
        if (c.D == D)
            return c;
    throw Exception(QStringLiteral("No base curve for discriminant %1").arg(D));
}

struct TTrace {
    TFGInt u, v;
};

// Finds u (and v for D = 1, 3) with 4p = u^2 + D*v^2 by reducing the form
// (p, 2*x0, (x0^2 + D)/p) of discriminant -4D.
std::optional<TTrace> SolveTrace(const TFGInt& p, int D)
{
    const TFGInt d = Int(D);
    const TFGInt pMinusD = BigSub(p, d);
    if (BigLegendre(pMinusD, p) == -1)
        return std::nullopt;
    const TFGInt x0 = BigSqrtModP(pMinusD, p);
    TFGInt A = p, b = x0, C = BigDiv(BigAdd(BigSquare(x0), d), p);
    TFGInt m1 = One(), m2;
    auto twice = [](TFGInt v) {
        BigShiftLeft(v, 1);
        return v;
    };
    while (BigCompareAbs(twice(b), A) == TCompareResult::crLarger ||
           BigCompareAbs(A, C) == TCompareResult::crLarger) {
        const TFGInt q = BigDiv(BigAdd(twice(b), C), twice(C));
        TFGInt newM1 = BigAdd(BigMul(q, m1), m2);
        m2 = m1;
        BigNegate(m2);
        m1 = std::move(newM1);
        const TFGInt b2 = BigSub(BigMul(q, C), b);
        TFGInt newC = BigAdd(A, BigMul(q, BigSub(b2, b)));
        A = std::move(C);
        C = std::move(newC);
        b = b2;
    }
    if (D == 11 && A == Int(3)) {
        TFGInt newM2 = m1;
        BigNegate(newM2);
        m1 = std::move(m2);
        m2 = std::move(newM2);
        BigNegate(b);
        std::swap(A, C);
    }
    std::optional<TTrace> r;
    if (D == 1 || D == 3)
        r = TTrace{twice(m1), twice(m2)};
    else if (A == One())
        r = TTrace{twice(m1), TFGInt()};
    if (A == Int(4)) {
        TFGInt u = m1;
        BigShiftLeft(u, 2);
        r = TTrace{BigAdd(u, BigMul(b, m2)), r ? r->v : TFGInt()};
    }
    return r;
}

std::vector<TFGInt> CandidateOrders(const TFGInt& p, int D, TTrace t)
{
    BigAbs(t.u);
    BigAbs(t.v);
    const TFGInt p1 = BigAdd(p, One());
    std::vector<TFGInt> orders{BigAdd(p1, t.u), BigSub(p1, t.u)};
    if (D == 1) {
        orders.push_back(BigAdd(p1, t.v));
        orders.push_back(BigSub(p1, t.v));
    }
    if (D == 3) {
        TFGInt hu = t.u, hv = t.v;
        BigShiftRight1(hu);
        BigShiftRight1(hv);
        BigMulSmallInPlace(hv, 3);
        orders.push_back(BigAdd(BigAdd(p1, hu), hv));
        orders.push_back(BigSub(BigSub(p1, hu), hv));
        orders.push_back(BigSub(BigAdd(p1, hu), hv));
        orders.push_back(BigAdd(BigSub(p1, hu), hv));
    }
    return orders;
}

// N without its factors 2 and 3..9973.
TFGInt RemoveSmallFactors(TFGInt n)
{
    while (!n.IsZero() && !n.IsOdd())
        BigShiftRight1(n);
    for (uint32_t q : BigSmallOddPrimes()) {
        uint32_t rem = 0;
        while (!n.IsZero() && BigModSmall(n, q) == 0)
            BigDivSmallInPlace(n, q, rem);
    }
    return n;
}

// x^3 + a*x + b mod p
TFGInt CurveRight(const TFGInt& x, const TFGInt& p, const TFGInt& a, const TFGInt& b)
{
    const TFGInt x2 = BigSquareMod(x, p);
    return BigMod(BigAdd(BigMul(BigAdd(x2, a), x), b), p);
}

} // namespace

TECPoint ECPointNegate(const TECPoint& P, const TFGInt& p)
{
    if (P.Infinity)
        return P;
    TECPoint r = P;
    r.YCoordinate = BigMod(BigSub(p, P.YCoordinate), p);
    return r;
}

TECPoint ECPointDouble(const TECPoint& P, const TFGInt& p, const TFGInt& a)
{
    if (P.Infinity || P.YCoordinate.IsZero())
        return TECPoint::AtInfinity();
    TFGInt num = BigSquare(P.XCoordinate);
    BigMulSmallInPlace(num, 3);
    TFGInt den = P.YCoordinate;
    BigShiftLeft(den, 1);
    return FromSlope(Slope(BigAdd(num, a), den, p), P, P.XCoordinate, p);
}

TECPoint ECPointAdd(const TECPoint& P, const TECPoint& Q, const TFGInt& p, const TFGInt& a)
{
    if (P.Infinity)
        return Q;
    if (Q.Infinity)
        return P;
    if (P.XCoordinate == Q.XCoordinate) {
        if (P.YCoordinate == Q.YCoordinate)
            return ECPointDouble(P, p, a);
        return TECPoint::AtInfinity();
    }
    const TFGInt l = Slope(BigSub(Q.YCoordinate, P.YCoordinate), BigSub(Q.XCoordinate, P.XCoordinate), p);
    return FromSlope(l, P, Q.XCoordinate, p);
}

TECPoint ECPointMultiply(const TECPoint& P, const TFGInt& e, const TFGInt& p, const TFGInt& a)
{
    TECPoint r = TECPoint::AtInfinity();
    for (int i = e.BitLength(); i-- > 0;) {
        if (e.Bit(i))
            r = ECPointAdd(r, P, p, a);
        if (i > 0)
            r = ECPointDouble(r, p, a);
    }
    return r;
}

bool ECPointOnCurve(const TECPoint& P, const TFGInt& p, const TFGInt& a, const TFGInt& b)
{
    if (P.Infinity)
        return true;
    return BigSquareMod(P.YCoordinate, p) == CurveRight(P.XCoordinate, p, a, b);
}

int ECCoordinateLength(const TFGInt& p) { return int(BigToBase256(p).size()); }

QByteArray ECPointToText(const TECPoint& P, const TFGInt& p, bool ACompressed)
{
    if (P.Infinity)
        return QByteArray(1, '\0');
    const int L = ECCoordinateLength(p);
    auto coordinate = [L](const TFGInt& v) {
        QByteArray bytes = v.IsZero() ? QByteArray() : BigToBase256(v);
        return QByteArray(L - std::min<int>(L, int(bytes.size())), '\0') + bytes;
    };
    if (ACompressed)
        return char(P.YCoordinate.IsOdd() ? 3 : 2) + coordinate(P.XCoordinate);
    return char(4) + coordinate(P.XCoordinate) + coordinate(P.YCoordinate);
}

TECPoint ECPointFromText(const QByteArray& S, const TFGInt& p, const TFGInt& a, const TFGInt& b)
{
    if (S.size() == 1 && S[0] == '\0')
        return TECPoint::AtInfinity();
    const int L = ECCoordinateLength(p);
    const uint8_t kind = S.isEmpty() ? 0 : uint8_t(S[0]);
    const int needed = kind == 4 ? 2 * L + 1 : L + 1;
    if (S.size() < needed)
        throw EECFormatError(QStringLiteral("Invalid EC point: too short"));
    TECPoint r;
    r.XCoordinate = BigFromBase256(S.mid(1, L));
    if (BigCompare(r.XCoordinate, p) >= 0)
        throw EECFormatError(QStringLiteral("Invalid EC point: coordinate out of range"));
    if (kind == 4) {
        r.YCoordinate = BigFromBase256(S.mid(1 + L, L));
        if (BigCompare(r.YCoordinate, p) >= 0 || !ECPointOnCurve(r, p, a, b))
            throw EECFormatError(QStringLiteral("Invalid EC point: not on the curve"));
        return r;
    }
    const TFGInt w = CurveRight(r.XCoordinate, p, a, b);
    const TFGInt root = BigSqrtModP(w, p);
    if (BigSquareMod(root, p) != w)
        throw EECFormatError(QStringLiteral("Invalid EC point: no square root"));
    const bool taken = int(root.IsOdd()) + 2 == kind;
    r.YCoordinate = taken ? root : BigMod(BigSub(p, root), p);
    return r;
}

TECCurve ECGenerateCurve(const QByteArray& ASeed)
{
    const TFGInt seed = BigFromBase256(ASeed);
    const int rounds = PrimeSearchRounds(seed.BitLength());
    const TFGInt two = Int(2);
    TECCurve curve;
    TFGInt& p = curve.p;
    p = seed;
    for (;;) {
        // Next prime, at least two past the previous value.
        if (!p.IsOdd())
            p = BigAdd(p, One());
        do
            p = BigAdd(p, two);
        while (!BigIsPrime(p, rounds));

        // The first discriminant whose trace equation can be solved.
        std::optional<TTrace> trace;
        int D = 0;
        for (int d : DiscriminantsFor(BigModSmall(p, 8))) {
            if (BigLegendre(Int(-d), p) == -1)
                continue;
            if (d >= 3 && BigLegendre(p, Int(d)) == -1)
                continue;
            if ((trace = SolveTrace(p, d))) {
                D = d;
                break;
            }
        }
        if (!trace)
            continue;

        // The first candidate order with a large prime factor n.
        bool haveOrder = false;
        for (const TFGInt& N : CandidateOrders(p, D, *trace)) {
            TFGInt n = RemoveSmallFactors(N);
            if (n.BitLength() < MinOrderBits || !BigRabinMiller(n, 4))
                continue;
            curve.n = n;
            curve.h = BigDiv(N, n);
            haveOrder = true;
            break;
        }
        if (!haveOrder)
            continue;

        // The first twist with a base point of order n.
        const TBaseCurve& base = BaseCurveFor(D);
        const TFGInt a0 = BigMod(Int(base.a0), p), b0 = BigMod(Int(base.b0), p);
        bool found = false;
        for (int64_t c = 1; !found; ++c) {
            // Every twist class turns up within a few c; a run this long means
            // the order above is wrong, which must not hang the program.
            if (c > 100000)
                throw Exception(QStringLiteral("Curve generation failed"));
            const TFGInt cc = Int(c);
            if (D == 1) {
                curve.a = BigMulMod(a0, cc, p);
                curve.b = TFGInt();
            } else if (D == 3) {
                curve.a = TFGInt();
                curve.b = BigMulMod(b0, cc, p);
            } else {
                const TFGInt c2 = BigSquareMod(cc, p);
                curve.a = BigMulMod(c2, a0, p);
                curve.b = BigMulMod(BigMulMod(c2, b0, p), cc, p);
            }
            TFGInt x = One();
            TECPoint G;
            do {
                TFGInt w;
                do {
                    x = BigAdd(x, One());
                    w = CurveRight(x, p, curve.a, curve.b);
                } while (BigLegendre(w, p) != 1);
                TECPoint P;
                P.XCoordinate = x;
                P.YCoordinate = BigSqrtModP(w, p);
                G = ECPointMultiply(P, curve.h, p, curve.a);
            } while (G.Infinity);
            if (ECPointMultiply(G, curve.n, p, curve.a).Infinity) {
                curve.g = G;
                found = true;
            }
        }
        // A singular curve is dropped and the prime search goes on.
        TFGInt disc = BigMulMod(BigSquareMod(curve.a, p), curve.a, p);
        BigMulSmallInPlace(disc, 4);
        TFGInt b2 = BigSquareMod(curve.b, p);
        BigMulSmallInPlace(b2, 27);
        if (BigMod(BigAdd(disc, b2), p).IsZero())
            continue;
        curve.D = D;
        return curve;
    }
}

} // namespace pelvox
