#pragma once
#include "core/FGInt.h"
#include "platform/Exception.h"
#include <QByteArray>

// Elliptic curves y^2 = x^3 + a*x + b over GF(p): affine point arithmetic,
// the byte encoding of points, and the deterministic generation of a curve
// from a short seed text (the server generates the same curves).

namespace pelvox {

// A ciphertext, key or point that cannot be decoded.
class EECFormatError : public Exception {
public:
    using Exception::Exception;
};

struct TECPoint {
    TFGInt XCoordinate; // 0..p-1
    TFGInt YCoordinate; // 0..p-1
    bool Infinity = false; // coordinates are 0 then

    static TECPoint AtInfinity()
    {
        TECPoint r;
        r.Infinity = true;
        return r;
    }
    friend bool operator==(const TECPoint&, const TECPoint&) = default;
};

TECPoint ECPointAdd(const TECPoint& P, const TECPoint& Q, const TFGInt& p, const TFGInt& a);
TECPoint ECPointDouble(const TECPoint& P, const TFGInt& p, const TFGInt& a);
TECPoint ECPointNegate(const TECPoint& P, const TFGInt& p);
// e*P by left-to-right double-and-add over the magnitude of e.
TECPoint ECPointMultiply(const TECPoint& P, const TFGInt& e, const TFGInt& p, const TFGInt& a);
bool ECPointOnCurve(const TECPoint& P, const TFGInt& p, const TFGInt& a, const TFGInt& b);

// Bytes of one coordinate: the length of p's minimal big-endian form.
int ECCoordinateLength(const TFGInt& p);
// 0x00 for infinity; 0x02/0x03 (y even/odd) + x when compressed;
// 0x04 + x + y otherwise. Coordinates are left-padded with NUL bytes.
QByteArray ECPointToText(const TECPoint& P, const TFGInt& p, bool ACompressed);
// Decodes ECPointToText's forms; a first byte other than 0x00 and 0x04 is
// read as compressed. Raises EECFormatError for too few bytes, coordinates
// not below p, an x whose right side has no square root, or an uncompressed
// point off the curve.
TECPoint ECPointFromText(const QByteArray& S, const TFGInt& p, const TFGInt& a, const TFGInt& b);

// A generated curve: y^2 = x^3 + a*x + b over GF(p), base point g of prime
// order n, group order h*n, found with CM discriminant D.
struct TECCurve {
    TFGInt p, a, b, n, h;
    TECPoint g;
    int D = 0;
};

// Deterministic curve generation from a seed byte string: the first prime
// above the seed with a usable CM discriminant and group order, then the
// first twist and base point that fit.
TECCurve ECGenerateCurve(const QByteArray& ASeed);

} // namespace pelvox
