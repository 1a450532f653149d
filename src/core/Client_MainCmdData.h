#pragma once
#include "core/BitDocument.h"
#include "core/Client_TCPClient.h"
#include <QByteArray>
#include <memory>

namespace pelvox {

// The payload forms of the command connection: a serialised document
// (reserved word 0), or a wrapper of the same name whose Binary node
// "encryptdata" holds one zlib stream of the document (reserved word 1).

// The payload for a document; dwReserved1 receives the word to send with it.
QByteArray BuildMainCmdPayload(const TBitDocument& ADoc, bool ACompress, uint32_t& dwReserved1);

// The document a received packet carries (the inner one of a wrapper), or
// null when the packet is not readable or of an unknown form.
std::unique_ptr<TBitDocument> LoadMainCmdDocument(const TTCPRECVDATA& AData);

} // namespace pelvox
