// libFuzzer target for the document reader (documents arrive from the network).
#include "core/BitDocument.h"
#include "platform/Exception.h"
#include <cstdlib>

using pelvox::TBitDocument;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    int16_t code;
    uint8_t version;
    QString name;
    try {
        TBitDocument::PrefetchDocumentHeader(AData, int64_t(ASize), code, version, name);
    } catch (const pelvox::Exception&) {
    }

    TBitDocument doc;
    try {
        doc.LoadFromBuffer(AData, int64_t(ASize));
    } catch (const pelvox::Exception&) {
        // A failed load leaves an empty document behind.
        const pelvox::TBitNode* root = doc.Root();
        if (root->NodeType() != pelvox::bntDirectory || root->NodeName() != u"/" || root->ChildNodes().Count() != 0)
            std::abort();
        return 0;
    }
    doc.FindNode(u"a/b\\c");
    doc.ReadString(u"NONAME");

    // Whatever loads saves into something that loads again; after one round
    // (empty names become "NONAME") the bytes are stable.
    const QByteArray first = doc.SaveToBytes();
    if (first.size() != doc.Size())
        std::abort();
    TBitDocument second;
    second.LoadFromBytes(first);
    const QByteArray secondBytes = second.SaveToBytes();
    TBitDocument third;
    third.LoadFromBytes(secondBytes);
    if (third.SaveToBytes() != secondBytes)
        std::abort();
    return 0;
}
