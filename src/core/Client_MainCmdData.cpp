#include "core/Client_MainCmdData.h"
#include "core/ZStream.h"

namespace pelvox {

namespace {

std::unique_ptr<TBitDocument> LoadChecked(const char* data, qsizetype size)
{
    try {
        int16_t code;
        uint8_t version;
        QString name;
        TBitDocument::PrefetchDocumentHeader(data, size, code, version, name);
        auto doc = std::make_unique<TBitDocument>();
        doc->LoadFromBuffer(data, size);
        return doc;
    } catch (const std::exception&) {
        return nullptr;
    }
}

} // namespace

QByteArray BuildMainCmdPayload(const TBitDocument& ADoc, bool ACompress, uint32_t& dwReserved1)
{
    dwReserved1 = ACompress ? 1 : 0;
    if (!ACompress) return ADoc.SaveToBytes();
    TBitDocument wrapper(ADoc.Name());
    wrapper.Root()->AddBinaryNode(QStringLiteral("encryptdata"), ZCompress(ADoc.SaveToBytes()));
    return wrapper.SaveToBytes();
}

std::unique_ptr<TBitDocument> LoadMainCmdDocument(const TTCPRECVDATA& AData)
{
    const auto* data = reinterpret_cast<const char*>(AData.pDataBuffer);
    const auto size = qsizetype(AData.dwDataSize);
    if (AData.dwReserved1 == 0) return LoadChecked(data, size);
    if (AData.dwReserved1 != 1) return nullptr;
    auto wrapper = LoadChecked(data, size);
    if (!wrapper) return nullptr;
    const auto inner = ZDecompress(wrapper->ReadBinary(u"encryptdata"), qsizetype(TCP_MAX_DATA_SIZE));
    if (!inner) return nullptr;
    return LoadChecked(inner->constData(), inner->size());
}

} // namespace pelvox
