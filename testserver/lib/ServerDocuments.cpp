#include "ServerDocuments.h"

namespace pelvox::testserver {

QString DocumentName(const QByteArray&) { return QString(); }
std::shared_ptr<TBitDocument> LoadDocument(const QByteArray&) { return nullptr; }
QByteArray SaveDocument(const TBitDocument&) { return QByteArray(); }
std::optional<QByteArray> UnwrapCompressed(const QByteArray&) { return std::nullopt; }
QByteArray WrapCompressed(const QByteArray& docBytes) { return docBytes; }

} // namespace pelvox::testserver
