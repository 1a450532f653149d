#include "core/BitDocument.h"
#include "platform/Exception.h"
#include <QBuffer>
#include <QFile>
#include <QFileDevice>
#include <algorithm>
#include <limits>

namespace pelvox {

namespace {

const QString& NoName()
{
    static const QString name = QStringLiteral("NONAME");
    return name;
}

[[noreturn]] void RaiseInvalid()
{
    throw Exception(QStringLiteral("Invalid BitDocument"));
}

[[noreturn]] void RaiseCheckError()
{
    throw Exception(QStringLiteral("Check BitDocument Node Error"));
}

QString CutName(const QString& AName)
{
    return AName.size() > BitNodeNameLimit ? AName.left(BitNodeNameLimit) : AName;
}

int NameBytes(const QString& AName)
{
    return AName.isEmpty() ? 0 : int(AName.size()) * 2 + 2;
}

template <class T> std::unique_ptr<TBitNode> MakeNode(const QString& AName)
{
    return std::make_unique<T>(AName);
}

using TNodeMaker = std::unique_ptr<TBitNode> (*)(const QString&);
constexpr TNodeMaker NodeMakers[BitNodeTypeCount] = {
    MakeNode<TBitNode_Directory>, MakeNode<TBitNode_Int8>,    MakeNode<TBitNode_Int16>,   MakeNode<TBitNode_Int32>,
    MakeNode<TBitNode_Int64>,     MakeNode<TBitNode_UInt8>,   MakeNode<TBitNode_UInt16>,  MakeNode<TBitNode_UInt32>,
    MakeNode<TBitNode_UInt64>,    MakeNode<TBitNode_Float32>, MakeNode<TBitNode_Float64>, MakeNode<TBitNode_Bool8>,
    MakeNode<TBitNode_Bool16>,    MakeNode<TBitNode_Bool32>,  MakeNode<TBitNode_String>,  MakeNode<TBitNode_Binary>,
};

std::unique_ptr<TBitNode> MakeNodeOfType(int AType, const QString& AName)
{
    if (AType < 0 || AType >= BitNodeTypeCount)
        throw Exception(QStringLiteral("Invalid BitDocument Node"));
    return NodeMakers[AType](AName);
}

// True when ANode is AStart or one of its ancestors.
bool IsSelfOrAncestor(const TBitNode* ANode, const TBitNode* AStart)
{
    for (const TBitNode* p = AStart; p; p = p->ParentNode())
        if (p == ANode)
            return true;
    return false;
}

// Code units of a UTF-16LE field up to its first NUL unit (all of it without
// one; a trailing odd byte is ignored).
qsizetype UnitsBeforeNul(const uint8_t* AData, qsizetype ABytes)
{
    const qsizetype units = ABytes / 2;
    for (qsizetype i = 0; i < units; ++i)
        if (AData[2 * i] == 0 && AData[2 * i + 1] == 0)
            return i;
    return units;
}

QString TextFromUnits(const uint8_t* AData, qsizetype AUnits)
{
    QString s(AUnits, Qt::Uninitialized);
    std::memcpy(s.data(), AData, size_t(AUnits) * 2);
    return s;
}

int32_t Load32(const uint8_t* p)
{
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void Store32(uint8_t* p, int32_t v)
{
    std::memcpy(p, &v, 4);
}

// Header fields shared by the reader and PrefetchDocumentHeader; returns the
// header's byte count.
int64_t ReadHeader(const uint8_t* AData, int64_t ACount, int16_t& ACode, uint8_t& AVersion, QString& AName)
{
    if (!AData || ACount < 4)
        RaiseInvalid();
    std::memcpy(&ACode, AData, 2);
    if (ACode != BitDocumentCode)
        throw Exception(QStringLiteral("Invalid BitDocument Code"));
    AVersion = AData[2];
    if (AVersion != BitDocumentVersion)
        throw Exception(QStringLiteral("Invalid BitDocument Version"));
    const int nameBytes = AData[3];
    if (4 + int64_t(nameBytes) > ACount)
        RaiseInvalid();
    AName.clear();
    if (nameBytes > 0) {
        const qsizetype units = std::min<qsizetype>(UnitsBeforeNul(AData + 4, nameBytes), BitNodeNameLimit);
        AName = TextFromUnits(AData + 4, units);
    }
    return 4 + nameBytes;
}

int64_t NodeTreeSize(const TBitNode* ANode)
{
    int64_t size = 10 + NameBytes(ANode->NodeName()) + std::max<int32_t>(ANode->DataSize(), 0);
    for (const TBitNode* child : ANode->ChildNodes())
        size += NodeTreeSize(child);
    return size;
}

uint8_t* WriteName(uint8_t* ADest, const QString& AName)
{
    if (AName.isEmpty())
        return ADest;
    const size_t bytes = size_t(AName.size()) * 2;
    std::memcpy(ADest, AName.constData(), bytes);
    ADest[bytes] = 0;
    ADest[bytes + 1] = 0;
    return ADest + bytes + 2;
}

uint8_t* WriteNodeTree(const TBitNode* ANode, uint8_t* ADest)
{
    const TBitNodeList& children = ANode->ChildNodes();
    ADest[0] = ANode->NodeType();
    Store32(ADest + 1, children.Count());
    ADest[5] = uint8_t(NameBytes(ANode->NodeName()));
    Store32(ADest + 6, ANode->DataSize());
    ADest = WriteName(ADest + 10, ANode->NodeName());
    if (ANode->DataSize() > 0) {
        ANode->ReadValue(ADest);
        ADest += ANode->DataSize();
    }
    for (const TBitNode* child : children)
        ADest = WriteNodeTree(child, ADest);
    return ADest;
}

TBitNode* SearchPath(const TBitNode* AParent, QStringView APath)
{
    // A path mixing both separators splits at its slashes first.
    qsizetype sep = APath.indexOf(u'/');
    if (sep < 0)
        sep = APath.indexOf(u'\\');
    const QStringView head = sep < 0 ? APath : APath.left(sep);
    const QStringView rest = sep < 0 ? QStringView() : APath.mid(sep + 1);
    if (head.isEmpty())
        return nullptr;
    for (TBitNode* child : AParent->ChildNodes()) {
        if (child->NodeName() != head)
            continue;
        if (rest.isEmpty())
            return child;
        // Same-named siblings: when this one leads nowhere, try the next.
        if (TBitNode* found = SearchPath(child, rest))
            return found;
    }
    return nullptr;
}

bool IsSeparator(QChar c)
{
    return c == u'/' || c == u'\\';
}

[[noreturn]] void RaiseStreamRead()
{
    throw Exception(QStringLiteral("Stream read error"));
}

[[noreturn]] void RaiseStreamWrite()
{
    throw Exception(QStringLiteral("Stream write error"));
}

void WriteAll(QIODevice& AStream, const char* AData, qint64 ACount)
{
    if (ACount > 0 && AStream.write(AData, ACount) != ACount)
        RaiseStreamWrite();
}

void OpenForReading(QFile& AFile)
{
    if (!AFile.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(AFile.fileName(), AFile.errorString()));
}

void OpenForWriting(QFile& AFile)
{
    if (!AFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(AFile.fileName(), AFile.errorString()));
}

} // namespace

// ---- Reader ---------------------------------------------------------------

// Parses nodes from memory. Every field is checked against the bytes left
// before it is touched; input comes from the network.
class TBitDocumentReader {
public:
    TBitDocumentReader(const uint8_t* AData, int64_t ACount) : FPos(AData), FEnd(AData + ACount) {}

    std::unique_ptr<TBitNode> ReadNode(int ADepth)
    {
        if (ADepth > BitDocumentMaxDepth)
            RaiseInvalid();
        Need(10);
        const uint8_t type = FPos[0];
        const int32_t childCount = Load32(FPos + 1);
        const int nameBytes = FPos[5];
        const int32_t dataSize = Load32(FPos + 6);
        FPos += 10;
        if (type >= BitNodeTypeCount)
            throw Exception(QStringLiteral("Invalid BitDocument Node"));
        Need(nameBytes);
        std::unique_ptr<TBitNode> node = NodeMakers[type](NoName());
        if (nameBytes > 0)
            node->FNodeName = ReadName(nameBytes);
        FPos += nameBytes;

        if (dataSize < 0)
            RaiseInvalid();
        Need(dataSize);
        if (dataSize > 0) {
            // A fixed-width value shorter than its width is refused: the
            // writer never makes one and the missing bytes are not ours.
            if (node->IsFixedWidth() && dataSize < node->FDataSize)
                RaiseInvalid();
            node->WriteValue(FPos, dataSize);
            FPos += dataSize;
        }

        if (childCount > 0) {
            // Every child takes at least 10 bytes.
            if (childCount > (FEnd - FPos) / 10)
                RaiseInvalid();
            std::vector<std::unique_ptr<TBitNode>>& items = node->FChildNodes.FItems;
            items.reserve(size_t(std::min(childCount, 4096)));
            for (int32_t i = 0; i < childCount; ++i) {
                std::unique_ptr<TBitNode> child = ReadNode(ADepth + 1);
                child->FParentNode = node.get();
                items.push_back(std::move(child));
            }
        }
        return node;
    }

    void Skip(int64_t ABytes) { FPos += ABytes; }

private:
    void Need(int64_t ABytes) const
    {
        if (ABytes > FEnd - FPos)
            RaiseInvalid();
    }

    // Names repeat a lot in one document ("id", "name" ...): a small cache
    // lets equal names share one string instead of allocating each time.
    QString ReadName(int ANameBytes)
    {
        const qsizetype units = std::min<qsizetype>(UnitsBeforeNul(FPos, ANameBytes), BitNodeNameLimit);
        if (units == 0)
            return QString();
        char16_t first, last;
        std::memcpy(&first, FPos, 2);
        std::memcpy(&last, FPos + 2 * (units - 1), 2);
        const size_t slot = (size_t(units) * 31u + first * 7u + last) % NameCacheSize;
        QString& cached = FNameCache[slot];
        if (cached.size() != units || std::memcmp(cached.constData(), FPos, size_t(units) * 2) != 0)
            cached = TextFromUnits(FPos, units);
        return cached;
    }

    static constexpr size_t NameCacheSize = 251;
    const uint8_t* FPos;
    const uint8_t* FEnd;
    QString FNameCache[NameCacheSize];
};

// ---- TBitNodeList ---------------------------------------------------------

TBitNodeList::TBitNodeList(TBitNode* AOwnerNode) : FOwner(AOwnerNode)
{
    if (!AOwnerNode)
        throw Exception(QStringLiteral("AOwnerNode can not = nil"));
}

TBitNodeList::~TBitNodeList()
{
    Clear();
}

int TBitNodeList::IndexOf(const TBitNode* ANode) const
{
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == ANode)
            return int(i);
    return -1;
}

TBitNode* TBitNodeList::FindNode(QStringView ANodeName) const
{
    for (const auto& item : FItems)
        if (item->FNodeName == ANodeName)
            return item.get();
    return nullptr;
}

int TBitNodeList::Add(std::unique_ptr<TBitNode> ANode)
{
    if (!ANode)
        throw Exception(QStringLiteral("Invalid BitDocument Node"));
    // A parentless subtree must not take in its own ancestor.
    if (IsSelfOrAncestor(ANode.get(), FOwner))
        throw Exception(QStringLiteral("A node cannot become its own descendant"));
    ANode->FParentNode = FOwner;
    FItems.push_back(std::move(ANode));
    return int(FItems.size()) - 1;
}

int TBitNodeList::Add(TBitNode* ANode)
{
    const int index = IndexOf(ANode);
    if (index >= 0)
        return index;
    if (!ANode || !ANode->FParentNode)
        throw Exception(QStringLiteral("A node without a parent must be added with its ownership"));
    if (IsSelfOrAncestor(ANode, FOwner))
        throw Exception(QStringLiteral("A node cannot become its own descendant"));
    return Add(ANode->FParentNode->FChildNodes.Remove(ANode));
}

std::unique_ptr<TBitNode> TBitNodeList::Remove(TBitNode* ANode)
{
    const int index = IndexOf(ANode);
    if (index < 0)
        return nullptr;
    std::unique_ptr<TBitNode> node = std::move(FItems[size_t(index)]);
    FItems.erase(FItems.begin() + index);
    node->FParentNode = nullptr;
    return node;
}

void TBitNodeList::Delete(int Index)
{
    std::unique_ptr<TBitNode> node = std::move(FItems.at(size_t(Index)));
    FItems.erase(FItems.begin() + Index);
}

void TBitNodeList::Clear()
{
    for (auto& item : FItems)
        item.reset();
    FItems.clear();
}

// ---- TBitNode -------------------------------------------------------------

TBitNode::TBitNode(TBitNodeType AType, const QString& ANodeName, int32_t ADataSize)
    : FDataSize(ADataSize), FNodeType(AType), FNodeName(ANodeName), FChildNodes(this)
{
    if (ANodeName.isEmpty())
        throw Exception(QStringLiteral("Invalid BitDocument NodeName"));
    // Its byte count would not fit the one-byte field.
    if (ANodeName.size() > BitNodeWritableNameLimit)
        FNodeName = CutName(ANodeName);
}

TBitNode::~TBitNode() = default;

void TBitNode::SetNodeName(const QString& AName)
{
    FNodeName = CutName(AName);
}

void TBitNode::SetParentNode(TBitNode* ANewParent)
{
    if (ANewParent == FParentNode)
        return;
    if (!ANewParent)
        throw Exception(QStringLiteral("AOwnerNode can not = nil"));
    ANewParent->FChildNodes.Add(this);
}

template <class T> T* TBitNode::CheckedCast(TBitNodeType AType)
{
    if (FNodeType != AType)
        RaiseCheckError();
    return static_cast<T*>(this);
}

template <class T> const T* TBitNode::CheckedCast(TBitNodeType AType) const
{
    if (FNodeType != AType)
        RaiseCheckError();
    return static_cast<const T*>(this);
}

#define PELVOX_BIT_NODE_CAST(Name)                                                                 \
    TBitNode_##Name* TBitNode::As##Name() { return CheckedCast<TBitNode_##Name>(TBitNode_##Name::Type); } \
    const TBitNode_##Name* TBitNode::As##Name() const                                               \
    {                                                                                               \
        return CheckedCast<TBitNode_##Name>(TBitNode_##Name::Type);                                 \
    }
PELVOX_BIT_NODE_CAST(Directory)
PELVOX_BIT_NODE_CAST(Int8)
PELVOX_BIT_NODE_CAST(Int16)
PELVOX_BIT_NODE_CAST(Int32)
PELVOX_BIT_NODE_CAST(Int64)
PELVOX_BIT_NODE_CAST(UInt8)
PELVOX_BIT_NODE_CAST(UInt16)
PELVOX_BIT_NODE_CAST(UInt32)
PELVOX_BIT_NODE_CAST(UInt64)
PELVOX_BIT_NODE_CAST(Float32)
PELVOX_BIT_NODE_CAST(Float64)
PELVOX_BIT_NODE_CAST(Bool8)
PELVOX_BIT_NODE_CAST(Bool16)
PELVOX_BIT_NODE_CAST(Bool32)
PELVOX_BIT_NODE_CAST(String)
PELVOX_BIT_NODE_CAST(Binary)
#undef PELVOX_BIT_NODE_CAST

template <class T> T* TBitNode::AddTyped(const QString& ANodeName)
{
    auto node = std::make_unique<T>(ANodeName);
    T* result = node.get();
    FChildNodes.Add(std::move(node));
    return result;
}

TBitNode* TBitNode::AddNode(TBitNodeType ANodeType, const QString& ANodeName)
{
    std::unique_ptr<TBitNode> node = MakeNodeOfType(ANodeType, ANodeName);
    TBitNode* result = node.get();
    FChildNodes.Add(std::move(node));
    return result;
}

#define PELVOX_BIT_NODE_ADD(Name)                                                                  \
    TBitNode_##Name* TBitNode::Add##Name##Node(const QString& ANodeName)                            \
    {                                                                                               \
        return AddTyped<TBitNode_##Name>(ANodeName);                                                \
    }
#define PELVOX_BIT_NODE_ADD_VALUE(Name, V)                                                         \
    PELVOX_BIT_NODE_ADD(Name)                                                                      \
    TBitNode_##Name* TBitNode::Add##Name##Node(const QString& ANodeName, V AValue)                  \
    {                                                                                               \
        TBitNode_##Name* node = AddTyped<TBitNode_##Name>(ANodeName);                               \
        node->SetValue(AValue);                                                                     \
        return node;                                                                                \
    }
PELVOX_BIT_NODE_ADD(Directory)
PELVOX_BIT_NODE_ADD_VALUE(Int8, int8_t)
PELVOX_BIT_NODE_ADD_VALUE(Int16, int16_t)
PELVOX_BIT_NODE_ADD_VALUE(Int32, int32_t)
PELVOX_BIT_NODE_ADD_VALUE(Int64, int64_t)
PELVOX_BIT_NODE_ADD_VALUE(UInt8, uint8_t)
PELVOX_BIT_NODE_ADD_VALUE(UInt16, uint16_t)
PELVOX_BIT_NODE_ADD_VALUE(UInt32, uint32_t)
PELVOX_BIT_NODE_ADD_VALUE(UInt64, uint64_t)
PELVOX_BIT_NODE_ADD_VALUE(Float32, float)
PELVOX_BIT_NODE_ADD_VALUE(Float64, double)
PELVOX_BIT_NODE_ADD_VALUE(Bool8, bool)
PELVOX_BIT_NODE_ADD_VALUE(Bool16, bool)
PELVOX_BIT_NODE_ADD_VALUE(Bool32, bool)
PELVOX_BIT_NODE_ADD_VALUE(String, const QString&)
PELVOX_BIT_NODE_ADD_VALUE(Binary, const QByteArray&)
#undef PELVOX_BIT_NODE_ADD_VALUE
#undef PELVOX_BIT_NODE_ADD

TBitNode* TBitNode::FindNode(QStringView ANodePath) const
{
    qsizetype first = 0, last = ANodePath.size();
    while (first < last && IsSeparator(ANodePath[first]))
        ++first;
    while (last > first && IsSeparator(ANodePath[last - 1]))
        --last;
    if (first == last)
        return nullptr;
    return SearchPath(this, ANodePath.mid(first, last - first));
}

int64_t TBitNode::RawInteger() const
{
    switch (FNodeType) {
    case bntInt8: return static_cast<const TBitNode_Int8*>(this)->Value();
    case bntInt16: return static_cast<const TBitNode_Int16*>(this)->Value();
    case bntInt32: return static_cast<const TBitNode_Int32*>(this)->Value();
    case bntInt64: return static_cast<const TBitNode_Int64*>(this)->Value();
    case bntUInt8: return static_cast<const TBitNode_UInt8*>(this)->Value();
    case bntUInt16: return static_cast<const TBitNode_UInt16*>(this)->Value();
    case bntUInt32: return static_cast<const TBitNode_UInt32*>(this)->Value();
    case bntUInt64: return int64_t(static_cast<const TBitNode_UInt64*>(this)->Value());
    case bntFloat32: return std::bit_cast<uint32_t>(static_cast<const TBitNode_Float32*>(this)->Value());
    case bntFloat64: return std::bit_cast<int64_t>(static_cast<const TBitNode_Float64*>(this)->Value());
    case bntBool8: return static_cast<const TBitNode_Bool8*>(this)->RawValue();
    case bntBool16: return static_cast<const TBitNode_Bool16*>(this)->RawValue();
    case bntBool32: return static_cast<const TBitNode_Bool32*>(this)->RawValue();
    default: return 0;
    }
}

double TBitNode::ToFloat64() const
{
    switch (FNodeType) {
    case bntFloat32: return static_cast<const TBitNode_Float32*>(this)->Value();
    case bntFloat64: return static_cast<const TBitNode_Float64*>(this)->Value();
    case bntUInt64: return double(static_cast<const TBitNode_UInt64*>(this)->Value());
    case bntBool8:
    case bntBool16:
    case bntBool32: return ToBool() ? 1.0 : 0.0;
    default: return IsFixedWidth() ? double(RawInteger()) : 0.0;
    }
}

QString TBitNode::ToString() const
{
    return FNodeType == bntString ? static_cast<const TBitNode_String*>(this)->Value() : QString();
}

QByteArray TBitNode::ToBinary() const
{
    if (FNodeType == bntString)
        return static_cast<const TBitNode_String*>(this)->Memory();
    if (FNodeType == bntBinary)
        return static_cast<const TBitNode_Binary*>(this)->Memory();
    return QByteArray();
}

#define PELVOX_BIT_NODE_READ(Name, T)                                                              \
    T TBitNode::Read##Name(QStringView APath, T ADefault) const                                     \
    {                                                                                               \
        const TBitNode* node = FindNode(APath);                                                     \
        return node && node->IsFixedWidth() ? node->To##Name() : ADefault;                          \
    }
PELVOX_BIT_NODE_READ(Int8, int8_t)
PELVOX_BIT_NODE_READ(Int16, int16_t)
PELVOX_BIT_NODE_READ(Int32, int32_t)
PELVOX_BIT_NODE_READ(Int64, int64_t)
PELVOX_BIT_NODE_READ(UInt8, uint8_t)
PELVOX_BIT_NODE_READ(UInt16, uint16_t)
PELVOX_BIT_NODE_READ(UInt32, uint32_t)
PELVOX_BIT_NODE_READ(UInt64, uint64_t)
PELVOX_BIT_NODE_READ(Bool, bool)
PELVOX_BIT_NODE_READ(Float64, double)
#undef PELVOX_BIT_NODE_READ

QString TBitNode::ReadString(QStringView APath, const QString& ADefault) const
{
    const TBitNode* node = FindNode(APath);
    return node && node->FNodeType == bntString ? node->ToString() : ADefault;
}

QByteArray TBitNode::ReadBinary(QStringView APath, const QByteArray& ADefault) const
{
    const TBitNode* node = FindNode(APath);
    return node && (node->FNodeType == bntString || node->FNodeType == bntBinary) ? node->ToBinary() : ADefault;
}

// ---- String and binary nodes ----------------------------------------------

static_assert(sizeof(TBitNode_String) <= 120, "text nodes should stay small chunks for the allocator");

char* TBitNode_String::Reserve(int32_t ABytes)
{
    if (ABytes <= InlineBytes) {
        FHeap.reset();
        return FInline;
    }
    FHeap = std::make_unique_for_overwrite<char[]>(size_t(ABytes));
    return FHeap.get();
}

void TBitNode_String::Clear()
{
    FHeap.reset();
    FDataSize = 0;
}

void TBitNode_String::ReadValue(void* ADest) const
{
    if (FDataSize > 0)
        std::memcpy(ADest, Data(), size_t(FDataSize));
}

void TBitNode_String::WriteValue(const void* ASource, int32_t ACount)
{
    if (ACount <= 0)
        return;
    std::memcpy(Reserve(ACount), ASource, size_t(ACount));
    FDataSize = ACount;
}

QString TBitNode_String::Value() const
{
    if (FDataSize <= 0)
        return QString();
    const auto* data = reinterpret_cast<const uint8_t*>(Data());
    return TextFromUnits(data, UnitsBeforeNul(data, FDataSize));
}

void TBitNode_String::SetValue(const QString& AValue)
{
    if (AValue.isEmpty()) {
        Clear();
        return;
    }
    if (AValue.size() > (std::numeric_limits<int32_t>::max() - 2) / 2)
        throw Exception(QStringLiteral("Invalid BitDocument"));
    const int32_t bytes = int32_t(AValue.size()) * 2;
    char* dest = Reserve(bytes + 2);
    std::memcpy(dest, AValue.constData(), size_t(bytes));
    dest[bytes] = 0;
    dest[bytes + 1] = 0;
    FDataSize = bytes + 2;
}

void TBitNode_Binary::SetValue(const QByteArray& AValue)
{
    if (AValue.size() > std::numeric_limits<int32_t>::max())
        throw Exception(QStringLiteral("Invalid BitDocument"));
    FValue = AValue;
    FDataSize = int32_t(FValue.size());
}

void TBitNode_Binary::Clear()
{
    FValue = QByteArray();
    FDataSize = 0;
}

void TBitNode_Binary::ReadValue(void* ADest) const
{
    if (FDataSize > 0)
        std::memcpy(ADest, FValue.constData(), size_t(FDataSize));
}

void TBitNode_Binary::WriteValue(const void* ASource, int32_t ACount)
{
    if (ACount <= 0)
        return;
    FValue = QByteArray(static_cast<const char*>(ASource), ACount);
    FDataSize = ACount;
}

void TBitNode_Binary::LoadFromStream(QIODevice& AStream)
{
    if (!AStream.isSequential() && !AStream.seek(0))
        RaiseStreamRead();
    const qint64 size = AStream.size();
    if (size > std::numeric_limits<int32_t>::max())
        RaiseStreamRead();
    const QByteArray bytes = AStream.read(size);
    if (bytes.size() != size)
        RaiseStreamRead();
    SetValue(bytes);
}

void TBitNode_Binary::SaveToStream(QIODevice& AStream) const
{
    WriteAll(AStream, FValue.constData(), FDataSize);
}

void TBitNode_Binary::LoadFromFile(const QString& AFileName)
{
    QFile file(AFileName);
    OpenForReading(file);
    LoadFromStream(file);
}

void TBitNode_Binary::SaveToFile(const QString& AFileName) const
{
    QFile file(AFileName);
    OpenForWriting(file);
    SaveToStream(file);
}

// ---- TBitDocument ---------------------------------------------------------

TBitDocument::TBitDocument() : FRoot(std::make_unique<TBitNode_Directory>(QStringLiteral("/"))) {}

TBitDocument::TBitDocument(const QString& AName) : TBitDocument()
{
    SetName(AName);
}

TBitDocument::~TBitDocument() = default;

void TBitDocument::SetName(const QString& AName)
{
    FName = CutName(AName);
}

int32_t TBitDocument::Size() const
{
    const int64_t size = 4 + NameBytes(FName) + NodeTreeSize(FRoot.get());
    if (size > std::numeric_limits<int32_t>::max())
        throw Exception(QStringLiteral("BitDocument too large"));
    return int32_t(size);
}

TBitNode* TBitDocument::CreateNode(TBitNodeType ANodeType, TBitNode* AParentNode, const QString& ANodeName)
{
    std::unique_ptr<TBitNode> node = MakeNodeOfType(ANodeType, ANodeName);
    if (!AParentNode)
        throw Exception(QStringLiteral("AOwnerNode can not = nil"));
    TBitNode* result = node.get();
    AParentNode->ChildNodes().Add(std::move(node));
    return result;
}

std::unique_ptr<TBitNode> TBitDocument::NewNode(TBitNodeType ANodeType, const QString& ANodeName)
{
    return MakeNodeOfType(ANodeType, ANodeName);
}

TBitNode* TBitDocument::FindNode(QStringView ANodePath) const
{
    return FRoot->FindNode(ANodePath);
}

void TBitDocument::SaveToBuffer(void* ADest) const
{
    auto* dest = static_cast<uint8_t*>(ADest);
    std::memcpy(dest, &FCode, 2);
    dest[2] = FVersion;
    dest[3] = uint8_t(NameBytes(FName));
    dest = WriteName(dest + 4, FName);
    WriteNodeTree(FRoot.get(), dest);
}

QByteArray TBitDocument::SaveToBytes() const
{
    QByteArray bytes(Size(), Qt::Uninitialized);
    SaveToBuffer(bytes.data());
    return bytes;
}

void TBitDocument::LoadFromBuffer(const void* ASource, int64_t ACount)
{
    Clear();
    try {
        const auto* data = static_cast<const uint8_t*>(ASource);
        int16_t code;
        uint8_t version;
        QString name;
        const int64_t headerBytes = ReadHeader(data, ACount, code, version, name);
        FCode = code;
        FVersion = version;
        FName = std::move(name);
        TBitDocumentReader reader(data, ACount);
        reader.Skip(headerBytes);
        FRoot = reader.ReadNode(0);
    } catch (...) {
        FRoot = std::make_unique<TBitNode_Directory>(QStringLiteral("/"));
        throw;
    }
}

bool TBitDocument::PrefetchDocumentHeader(const void* ABitDocBuf, int64_t ACount, int16_t& ACode, uint8_t& AVersion,
                                          QString& AName)
{
    ReadHeader(static_cast<const uint8_t*>(ABitDocBuf), ACount, ACode, AVersion, AName);
    return true;
}

void TBitDocument::SaveToStream(QIODevice& AStream) const
{
    const QByteArray bytes = SaveToBytes();
    if (!AStream.isSequential() && !AStream.seek(0))
        RaiseStreamWrite();
    WriteAll(AStream, bytes.constData(), bytes.size());
    // The stream's content becomes exactly the document.
    if (auto* file = qobject_cast<QFileDevice*>(&AStream)) {
        if (!file->resize(bytes.size()))
            RaiseStreamWrite();
    } else if (auto* buffer = qobject_cast<QBuffer*>(&AStream)) {
        buffer->buffer().resize(bytes.size());
    }
}

void TBitDocument::LoadFromStream(QIODevice& AStream)
{
    const qint64 size = AStream.size();
    if (size < 4)
        RaiseInvalid();
    if (size > std::numeric_limits<int32_t>::max())
        RaiseInvalid();
    const QByteArray bytes = AStream.read(size);
    if (bytes.size() != size)
        RaiseStreamRead();
    LoadFromBytes(bytes);
}

void TBitDocument::SaveToFile(const QString& AFileName) const
{
    QFile file(AFileName);
    OpenForWriting(file);
    SaveToStream(file);
}

void TBitDocument::LoadFromFile(const QString& AFileName)
{
    QFile file(AFileName);
    OpenForReading(file);
    LoadFromStream(file);
}

void TBitDocument::Assign(const TBitDocument& ASource)
{
    if (&ASource == this)
        return;
    LoadFromBytes(ASource.SaveToBytes());
}

void TBitDocument::Clear()
{
    FRoot->Clear();
    FRoot->ChildNodes().Clear();
}

} // namespace pelvox
