// Decrypt of arbitrary radix-64 text: every input either decrypts or raises
// a pelvox::Exception; nothing else may happen.
#include "core/ECC.h"
#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::unique_ptr<pelvox::TECC> ecc = [] {
        auto e = std::make_unique<pelvox::TECC>();
        e->Init(pelvox::ClientCurvePrime);
        e->SetPrivateKey("C0FFEE123456");
        return e;
    }();
    // Raw bytes as Latin-1 text: the alphabet and everything outside it.
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        (void)ecc->Decrypt(text);
    } catch (const pelvox::Exception&) {
    }
    return 0;
}
