#pragma once
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>

namespace pelvox {

// RFC 1321 digest, bytes in the standard order.
using TMD5Digest = std::array<uint8_t, 16>;

// Incremental MD5; the whole state lives in the object, so any number of
// threads may hash at once.
class TMD5Context {
public:
    TMD5Context() { Init(); }
    void Init();
    void Update(const void* AData, size_t ASize);
    TMD5Digest Final();

private:
    void Transform(const uint8_t* ABlock, size_t ABlocks);
    uint32_t FState[4];
    uint64_t FLength; // bytes fed so far
    uint8_t FBuffer[64];
};

TMD5Digest MD5Buffer(const void* AData, size_t ASize);
// One byte per character: the low 8 bits of each UTF-16 code unit.
TMD5Digest MD5String(const QString& AText);
// Whole file, read in 8192-byte chunks; throws pelvox::Exception when the
// file cannot be opened or a read fails.
TMD5Digest MD5File(const QString& AFileName);
// 32 hexadecimal digits, lower case when ALowerCase.
QString MD5DigestToHex(const TMD5Digest& ADigest, bool ALowerCase);
QString MD5TextToHex(const QString& AText, bool ALowerCase);

// Login and password-change digest: 32 upper-case digits.
inline QString PasswordDigest(const QString& APassword) { return MD5TextToHex(APassword, false); }

// A new GUID in the registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
QString NewGUIDText();
// Chat message id: the lower-case hex MD5 of a new GUID text.
QString NewMessageId();
// Shared-file upload and file-transfer session id ("sid"): the same shape.
QString NewTransferId();

} // namespace pelvox
