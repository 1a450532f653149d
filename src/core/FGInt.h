#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <span>
#include <vector>

// Arbitrary-precision signed integers for the key exchange: conversions,
// Euclidean division, modular arithmetic, square roots modulo a prime and
// primality tests.
//
// Byte strings are QByteArrays (one byte per element). Texts that stand for
// byte strings (key texts) go through ByteStringFromText first.

namespace pelvox {

enum class TSign : uint8_t { negative, positive };
enum class TCompareResult : uint8_t { crLarger, crSmaller, crEqual };

// Value type: a sign and the magnitude as 32-bit limbs, least significant
// first. Invariant after every operation: no leading zero limb, zero is the
// empty limb list with Sign positive.
struct TFGInt {
    TSign Sign = TSign::positive;
    std::vector<uint32_t> Limbs;

    TFGInt() = default;
    static TFGInt FromInt(int64_t AValue);
    static TFGInt FromUInt64(uint64_t AValue);

    bool IsZero() const { return Limbs.empty(); }
    bool IsNegative() const { return Sign == TSign::negative; }
    bool IsOdd() const { return !Limbs.empty() && (Limbs[0] & 1); }
    // Magnitude tests.
    bool IsOne() const { return Limbs.size() == 1 && Limbs[0] == 1; }
    bool FitsUInt64() const { return Limbs.size() <= 2; }
    uint64_t LowUInt64() const; // low 64 bits of the magnitude
    int BitLength() const;      // of the magnitude; 0 for zero
    bool Bit(int AIndex) const; // of the magnitude
    // Restores the invariant after the limbs were changed directly.
    void Normalize();

    friend bool operator==(const TFGInt&, const TFGInt&) = default;
};

// A text whose characters all lie below U+0100, as its bytes; other texts
// raise pelvox::Exception.
QByteArray ByteStringFromText(const QString& AText);

// ---- Conversions -----------------------------------------------------------
// Binary digits, most significant first: "1" is a one bit, any other
// character a zero bit; leading "0"s dropped. Positive.
TFGInt BigFromBase2Text(const QString& AText);
// Binary digits of the magnitude; zero gives "0".
QString BigToBase2Text(const TFGInt& A);
// Big-endian bytes, leading zeros ignored; empty gives zero. Positive.
TFGInt BigFromBase256(const QByteArray& ABytes);
// Magnitude as minimal big-endian bytes; zero gives one NUL byte.
QByteArray BigToBase256(const TFGInt& A);
// Decimal text: leading characters are dropped until it starts with "-" or a
// digit; then an optional "-" and digits only (else pelvox::Exception).
TFGInt BigFromDecimal(const QString& AText);
// Signed decimal text (for diagnostics).
QString BigToDecimal(const TFGInt& A);
// Radix-64 text form of byte strings (alphabet "aAbB...zZ0..9+="; "=" is a
// digit, never padding).
QString Base256ToRadix64(const QByteArray& ABytes);
// Characters outside the alphabet are skipped; leftover bits are dropped.
QByteArray Radix64ToBase256(const QString& AText);

// ---- Arithmetic --------------------------------------------------------------
TFGInt BigAdd(const TFGInt& A, const TFGInt& B);
TFGInt BigSub(const TFGInt& A, const TFGInt& B);
void BigNegate(TFGInt& A); // zero stays positive
void BigAbs(TFGInt& A);
inline TFGInt BigCopy(const TFGInt& A) { return A; }
inline void BigFree(TFGInt& A) { A = TFGInt(); }
TCompareResult BigCompareAbs(const TFGInt& A, const TFGInt& B);
// Signed three-way comparison: <0, 0, >0.
int BigCompare(const TFGInt& A, const TFGInt& B);
// A := |A| + |B| with A's sign.
void BigAddAbsInPlace(TFGInt& A, const TFGInt& B);
// A := |A| - |B| with A's sign; requires |A| >= |B| (else pelvox::Exception).
void BigSubAbsInPlace(TFGInt& A, const TFGInt& B);
TFGInt BigMul(const TFGInt& A, const TFGInt& B);
TFGInt BigSquare(const TFGInt& A);
void BigMulSmallInPlace(TFGInt& A, uint32_t AMultiplier);
void BigShiftRight1(TFGInt& A);
void BigShiftLeft(TFGInt& A, int ABits);
void BigShiftRight(TFGInt& A, int ABits);
// Quotient of the magnitude with A's sign; ARemainder is the magnitude's
// remainder r, reported as ADivisor - r for a negative A with r != 0.
TFGInt BigDivSmall(const TFGInt& A, uint32_t ADivisor, uint32_t& ARemainder);
// The same quotient in place; the magnitude's remainder.
void BigDivSmallInPlace(TFGInt& A, uint32_t ADivisor, uint32_t& ARemainder);
// Remainder in 0..ADivisor-1 (ADivisor - r for a negative A).
uint32_t BigModSmall(const TFGInt& A, uint32_t ADivisor);
// Euclidean division: A = Q*B + R with 0 <= R < |B|. Division by zero raises
// pelvox::Exception.
void BigDivMod(const TFGInt& A, const TFGInt& B, TFGInt& AQuotient, TFGInt& ARemainder);
TFGInt BigDiv(const TFGInt& A, const TFGInt& B);
TFGInt BigMod(const TFGInt& A, const TFGInt& B);
TFGInt BigAddMod(const TFGInt& A, const TFGInt& B, const TFGInt& AModulus);
TFGInt BigMulMod(const TFGInt& A, const TFGInt& B, const TFGInt& AModulus);
TFGInt BigSquareMod(const TFGInt& A, const TFGInt& AModulus);
// A^E mod M for E >= 0: A = 0 (mod M) gives 0, then E = 0 gives 1.
TFGInt BigModExp(const TFGInt& A, const TFGInt& E, const TFGInt& AModulus);
TFGInt BigGcd(const TFGInt& A, const TFGInt& B);
// Inverse in 0..M-1; zero when gcd(A, M) != 1.
TFGInt BigModInv(const TFGInt& A, const TFGInt& AModulus);
// (A / P) for an odd prime P: 0, 1 or -1; A may be negative or above P.
int BigLegendre(const TFGInt& A, const TFGInt& P);
// A square root of the residue A modulo the odd prime P by the fixed
// Tonelli-Shanks steps (which of the two roots is returned is part of the
// protocol). A = 0 gives 0; a non-residue gives some non-root.
TFGInt BigSqrtModP(const TFGInt& A, const TFGInt& P);

// ---- Primality ------------------------------------------------------------
// False for even values and for multiples of the odd primes 3..9973
// (those primes included).
bool BigTrialDivision(const TFGInt& A);
// Rabin-Miller with ARounds random witnesses from the odd primes 3..9967.
bool BigRabinMiller(const TFGInt& A, int ARounds);
bool BigIsPrime(const TFGInt& A, int ARounds);
// The 1228 odd primes 3..9973 in ascending order.
std::span<const uint16_t> BigSmallOddPrimes();

} // namespace pelvox
