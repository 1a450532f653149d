#pragma once
#include "core/ECGFp.h"
#include <QByteArray>
#include <QString>

// The key objects of the login key exchange. The client holds a TECC on the
// curve of "EE2036A1" (its key pair) and a TPublicECC on the curve of
// "6244E9BD" (the server's public key). Keys and ciphertexts travel as
// radix-64 texts.
//
//   TECC ecc;                    ecc.Init("EE2036A1");
//   ecc.SetRandomParamter(NewECCSecretText());
//   ecc.SetPrivateKey(NewECCSecretText());
//   send ecc.PublicKey() as "clientpublickey";
//   QByteArray sessionKey = ecc.Decrypt(answer's "sessionkey");
//
// The other side enciphers for a public key with TPublicECC::Encrypt.

namespace pelvox {

inline constexpr char ClientCurvePrime[] = "EE2036A1";
inline constexpr char ServerCurvePrime[] = "6244E9BD";

// The message chunk a decrypted message point carries in its x: x's minimal
// big-endian bytes without the first (the count k) and the last k bytes.
// A count beyond the bytes raises EECFormatError.
QByteArray ECCChunkFromX(const TFGInt& AX);

// A new secret of 12 upper-case hexadecimal characters (a private key text
// or a random parameter text).
QString NewECCSecretText();

// What both key objects share: the curve, the random parameter and the
// public point.
class TECCBase {
public:
    TECCBase() = default;
    TECCBase(const TECCBase&) = delete;
    TECCBase& operator=(const TECCBase&) = delete;
    virtual ~TECCBase() = default;

    // Generates the curve of the prime text (each character one byte) once;
    // later calls and an empty text do nothing.
    void Init(const QString& APrime);
    // Back to the uninitialised state (curve and keys dropped).
    virtual void UnInit();

    bool HasInited() const { return FHasInited; }
    QString Prime() const { return FPrime; }
    QString RandomParamter() const { return FRandomParamter; }
    // An empty text is ignored.
    void SetRandomParamter(const QString& AValue);
    QString PublicKey() const { return FPublicKey; }

    // EC-ElGamal for the public key held: the message is cut into chunks that
    // each ride in the x coordinate of a message point; every chunk gets a
    // fresh ephemeral scalar. Returns radix-64 text; empty for an empty message.
    QString Encrypt(const QByteArray& AIn) const;

    const TECCurve& Curve() const { return FCurve; }
    const TECPoint& PublicPoint() const { return y; }

protected:
    void CheckInited() const;

    bool FHasInited = false;
    TECCurve FCurve; // p, a, b, n, h, g
    TFGInt k;        // the random parameter
    TECPoint y;      // the public key point
    QString FPrime, FRandomParamter, FPublicKey;
};

// The own key pair.
class TECC : public TECCBase {
public:
    // Raises "TECC has not init" before Init; an empty text is ignored;
    // otherwise sets x from the text's bytes, y := x*g and PublicKey.
    void SetPrivateKey(const QString& AValue);
    // The plaintext of a radix-64 EC-ElGamal ciphertext. A malformed text
    // (truncated point, bad point, lone last point, count byte beyond its
    // chunk) raises EECFormatError; nothing partial is returned.
    QByteArray Decrypt(const QString& AIn) const;
    void UnInit() override;

private:
    TFGInt x; // the private key
    QString FPrivateKey;
};

// The other side's public key.
class TPublicECC : public TECCBase {
public:
    // Raises "TECC has not init" before Init; an empty text is ignored;
    // a text that does not decode to a point raises EECFormatError.
    void SetPublicKey(const QString& AValue);
};

} // namespace pelvox
