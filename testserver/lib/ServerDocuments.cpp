#include "ServerDocuments.h"
#include "core/BitDocument.h"
#include "core/Client_TCPClient.h"
#include "core/ZStream.h"

namespace pelvox::testserver {

QString DocumentName(const QByteArray& docBytes)
{
    if (docBytes.isEmpty()) return QString();
    try {
        int16_t code = 0;
        uint8_t version = 0;
        QString name;
        if (!TBitDocument::PrefetchDocumentHeader(docBytes.constData(), docBytes.size(), code, version, name))
            return QString();
        return name;
    } catch (const std::exception&) {
        return QString();
    }
}

std::shared_ptr<TBitDocument> LoadDocument(const QByteArray& docBytes)
{
    auto doc = std::make_shared<TBitDocument>();
    try {
        doc->LoadFromBytes(docBytes);
    } catch (const std::exception&) {
        return nullptr;
    }
    return doc;
}

QByteArray SaveDocument(const TBitDocument& doc) { return doc.SaveToBytes(); }

std::optional<QByteArray> UnwrapCompressed(const QByteArray& wrapperBytes)
{
    auto wrapper = LoadDocument(wrapperBytes);
    if (!wrapper) return std::nullopt;
    return ZDecompress(wrapper->ReadBinary(u"encryptdata"), TCP_MAX_DATA_SIZE);
}

QByteArray WrapCompressed(const QByteArray& docBytes)
{
    TBitDocument wrapper(DocumentName(docBytes));
    wrapper.Root()->AddBinaryNode(QStringLiteral("encryptdata"), ZCompress(docBytes));
    return wrapper.SaveToBytes();
}

} // namespace pelvox::testserver
