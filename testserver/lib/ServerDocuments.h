#pragma once
#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

namespace pelvox {
class TBitDocument;
}

namespace pelvox::testserver {

// Document helpers of the server side: names, the compressed wrapper
// ("encryptdata" holding one zlib stream of the inner document), loading.
QString DocumentName(const QByteArray& docBytes); // empty when not a document
std::shared_ptr<TBitDocument> LoadDocument(const QByteArray& docBytes);
QByteArray SaveDocument(const TBitDocument& doc);
// The inner document's bytes of a wrapper; nothing when it is corrupt.
std::optional<QByteArray> UnwrapCompressed(const QByteArray& wrapperBytes);
QByteArray WrapCompressed(const QByteArray& docBytes);

} // namespace pelvox::testserver
