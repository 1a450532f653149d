#pragma once
#include <QByteArray>
#include <QString>
#include <QStringView>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

class QIODevice;

// The binary tree document: every command, answer and push, and several cache
// files, are documents of this kind. Byte layout (little-endian, unpadded):
//   header: Code(2) Version(1) NameBytes(1) Name(NameBytes: UTF-16LE + NUL)
//   node:   Type(1) ChildCount(4) NameBytes(1) DataSize(4) Name Value, then
//           its children (depth-first pre-order).
namespace pelvox {

enum TBitNodeType : uint8_t {
    bntDirectory = 0,
    bntInt8 = 1,
    bntInt16 = 2,
    bntInt32 = 3,
    bntInt64 = 4,
    bntUInt8 = 5,
    bntUInt16 = 6,
    bntUInt32 = 7,
    bntUInt64 = 8,
    bntFloat32 = 9,
    bntFloat64 = 10,
    bntBool8 = 11,
    bntBool16 = 12,
    bntBool32 = 13,
    bntString = 14,
    bntBinary = 15,
};
constexpr int BitNodeTypeCount = 16;

// Limits of the format and of the reader.
constexpr int BitNodeNameLimit = 80;          // names set or read keep at most this many characters
constexpr int BitNodeWritableNameLimit = 126; // longest name whose byte count fits the one-byte field
constexpr int BitDocumentMaxDepth = 64;       // deepest nesting accepted from bytes (root is level 0)
constexpr int16_t BitDocumentCode = 0x5555;
constexpr uint8_t BitDocumentVersion = 100;

class TBitNode;
class TBitNode_Directory;
class TBitNode_Int8;
class TBitNode_Int16;
class TBitNode_Int32;
class TBitNode_Int64;
class TBitNode_UInt8;
class TBitNode_UInt16;
class TBitNode_UInt32;
class TBitNode_UInt64;
class TBitNode_Float32;
class TBitNode_Float64;
class TBitNode_Bool8;
class TBitNode_Bool16;
class TBitNode_Bool32;
class TBitNode_String;
class TBitNode_Binary;

// The ordered children of one node. The list owns its nodes.
class TBitNodeList {
public:
    explicit TBitNodeList(TBitNode* AOwnerNode); // null raises "AOwnerNode can not = nil"
    ~TBitNodeList();
    TBitNodeList(const TBitNodeList&) = delete;
    TBitNodeList& operator=(const TBitNodeList&) = delete;

    TBitNode* Owner() const { return FOwner; }
    int Count() const { return int(FItems.size()); }
    TBitNode* Items(int Index) const { return FItems.at(size_t(Index)).get(); }
    TBitNode* operator[](int Index) const { return Items(Index); }
    int IndexOf(const TBitNode* ANode) const;
    // First child named exactly ANodeName (case-sensitive), or null.
    TBitNode* FindNode(QStringView ANodeName) const;

    // Appends a node that has no parent; returns its index.
    int Add(std::unique_ptr<TBitNode> ANode);
    // Index of a node already here; otherwise moves a node out of another
    // list to the end of this one. A node without a parent cannot be added
    // by pointer (its owner is unknown): pass the unique_ptr instead.
    int Add(TBitNode* ANode);
    // Takes the node out without freeing it and hands it to the caller (its
    // ParentNode becomes null); null when the node is not in this list.
    std::unique_ptr<TBitNode> Remove(TBitNode* ANode);
    // Frees one child.
    void Delete(int Index);
    // Frees every child, first to last.
    void Clear();
    void Reserve(int ACount) { FItems.reserve(size_t(ACount)); }

    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = TBitNode*;
        using difference_type = std::ptrdiff_t;
        using pointer = TBitNode* const*;
        using reference = TBitNode*;
        explicit const_iterator(std::vector<std::unique_ptr<TBitNode>>::const_iterator it) : FIt(it) {}
        TBitNode* operator*() const { return FIt->get(); }
        const_iterator& operator++() { ++FIt; return *this; }
        const_iterator operator++(int) { auto t = *this; ++FIt; return t; }
        bool operator==(const const_iterator& o) const { return FIt == o.FIt; }
        bool operator!=(const const_iterator& o) const { return FIt != o.FIt; }
    private:
        std::vector<std::unique_ptr<TBitNode>>::const_iterator FIt;
    };
    const_iterator begin() const { return const_iterator(FItems.begin()); }
    const_iterator end() const { return const_iterator(FItems.end()); }

private:
    friend class TBitNode;
    friend class TBitDocumentReader;
    TBitNode* FOwner;
    std::vector<std::unique_ptr<TBitNode>> FItems;
};

// Base of all node classes. Every node, of any type, may have children.
class TBitNode {
public:
    virtual ~TBitNode();
    TBitNode(const TBitNode&) = delete;
    TBitNode& operator=(const TBitNode&) = delete;

    TBitNodeType NodeType() const { return FNodeType; }
    const QString& NodeName() const { return FNodeName; }
    // Keeps at most the first 80 characters.
    void SetNodeName(const QString& AName);
    TBitNode* ParentNode() const { return FParentNode; }
    // Moves a node that is in a parent's list to the end of ANewParent's list.
    // Moving a node below itself, or a parentless node, raises.
    void SetParentNode(TBitNode* ANewParent);
    TBitNodeList& ChildNodes() { return FChildNodes; }
    const TBitNodeList& ChildNodes() const { return FChildNodes; }
    int32_t DataSize() const { return FDataSize; }

    // Resets the value (fixed width: 0, keeping DataSize; string/binary: empty).
    virtual void Clear() {}
    // Copies the DataSize value bytes, in the format's encoding, to ADest.
    virtual void ReadValue(void* ADest) const {}
    // Fixed-width nodes take exactly their width from ASource whatever ACount
    // says; string and binary nodes copy ACount bytes (ACount <= 0: no change).
    virtual void WriteValue(const void* ASource, int32_t ACount) {}

    // Checked casts: the node itself when NodeType matches, else raise
    // "Check BitDocument Node Error". They convert nothing.
    TBitNode_Directory* AsDirectory();
    TBitNode_Int8* AsInt8();
    TBitNode_Int16* AsInt16();
    TBitNode_Int32* AsInt32();
    TBitNode_Int64* AsInt64();
    TBitNode_UInt8* AsUInt8();
    TBitNode_UInt16* AsUInt16();
    TBitNode_UInt32* AsUInt32();
    TBitNode_UInt64* AsUInt64();
    TBitNode_Float32* AsFloat32();
    TBitNode_Float64* AsFloat64();
    TBitNode_Bool8* AsBool8();
    TBitNode_Bool16* AsBool16();
    TBitNode_Bool32* AsBool32();
    TBitNode_String* AsString();
    TBitNode_Binary* AsBinary();
    const TBitNode_Directory* AsDirectory() const;
    const TBitNode_Int8* AsInt8() const;
    const TBitNode_Int16* AsInt16() const;
    const TBitNode_Int32* AsInt32() const;
    const TBitNode_Int64* AsInt64() const;
    const TBitNode_UInt8* AsUInt8() const;
    const TBitNode_UInt16* AsUInt16() const;
    const TBitNode_UInt32* AsUInt32() const;
    const TBitNode_UInt64* AsUInt64() const;
    const TBitNode_Float32* AsFloat32() const;
    const TBitNode_Float64* AsFloat64() const;
    const TBitNode_Bool8* AsBool8() const;
    const TBitNode_Bool16* AsBool16() const;
    const TBitNode_Bool32* AsBool32() const;
    const TBitNode_String* AsString() const;
    const TBitNode_Binary* AsBinary() const;

    bool IsFixedWidth() const { return FNodeType != bntDirectory && FNodeType < bntString; }

    // ---- Building ----------------------------------------------------------
    // A new child of the given type, appended to this node's children.
    TBitNode* AddNode(TBitNodeType ANodeType, const QString& ANodeName);
    TBitNode_Directory* AddDirectoryNode(const QString& ANodeName);
    TBitNode_Int8* AddInt8Node(const QString& ANodeName);
    TBitNode_Int16* AddInt16Node(const QString& ANodeName);
    TBitNode_Int32* AddInt32Node(const QString& ANodeName);
    TBitNode_Int64* AddInt64Node(const QString& ANodeName);
    TBitNode_UInt8* AddUInt8Node(const QString& ANodeName);
    TBitNode_UInt16* AddUInt16Node(const QString& ANodeName);
    TBitNode_UInt32* AddUInt32Node(const QString& ANodeName);
    TBitNode_UInt64* AddUInt64Node(const QString& ANodeName);
    TBitNode_Float32* AddFloat32Node(const QString& ANodeName);
    TBitNode_Float64* AddFloat64Node(const QString& ANodeName);
    TBitNode_Bool8* AddBool8Node(const QString& ANodeName);
    TBitNode_Bool16* AddBool16Node(const QString& ANodeName);
    TBitNode_Bool32* AddBool32Node(const QString& ANodeName);
    TBitNode_String* AddStringNode(const QString& ANodeName);
    TBitNode_Binary* AddBinaryNode(const QString& ANodeName);
    // The same with the value set.
    TBitNode_Int8* AddInt8Node(const QString& ANodeName, int8_t AValue);
    TBitNode_Int16* AddInt16Node(const QString& ANodeName, int16_t AValue);
    TBitNode_Int32* AddInt32Node(const QString& ANodeName, int32_t AValue);
    TBitNode_Int64* AddInt64Node(const QString& ANodeName, int64_t AValue);
    TBitNode_UInt8* AddUInt8Node(const QString& ANodeName, uint8_t AValue);
    TBitNode_UInt16* AddUInt16Node(const QString& ANodeName, uint16_t AValue);
    TBitNode_UInt32* AddUInt32Node(const QString& ANodeName, uint32_t AValue);
    TBitNode_UInt64* AddUInt64Node(const QString& ANodeName, uint64_t AValue);
    TBitNode_Float32* AddFloat32Node(const QString& ANodeName, float AValue);
    TBitNode_Float64* AddFloat64Node(const QString& ANodeName, double AValue);
    TBitNode_Bool8* AddBool8Node(const QString& ANodeName, bool AValue);
    TBitNode_Bool16* AddBool16Node(const QString& ANodeName, bool AValue);
    TBitNode_Bool32* AddBool32Node(const QString& ANodeName, bool AValue);
    TBitNode_String* AddStringNode(const QString& ANodeName, const QString& AValue);
    TBitNode_Binary* AddBinaryNode(const QString& ANodeName, const QByteArray& AValue);

    // ---- Reading -----------------------------------------------------------
    // The node at a path of names below this node (see TBitDocument::FindNode).
    TBitNode* FindNode(QStringView ANodePath) const;

    // This node's value read at a fixed width whatever type it carries: the
    // value's little-endian bytes, cut to the width, or widened with the sign
    // of a signed integer type and with zeros otherwise. Directory, string and
    // binary nodes give 0.
    int8_t ToInt8() const { return int8_t(RawInteger()); }
    int16_t ToInt16() const { return int16_t(RawInteger()); }
    int32_t ToInt32() const { return int32_t(RawInteger()); }
    int64_t ToInt64() const { return RawInteger(); }
    uint8_t ToUInt8() const { return uint8_t(RawInteger()); }
    uint16_t ToUInt16() const { return uint16_t(RawInteger()); }
    uint32_t ToUInt32() const { return uint32_t(RawInteger()); }
    uint64_t ToUInt64() const { return uint64_t(RawInteger()); }
    // True when a fixed-width value is not 0 (a bool holding 2 is true).
    bool ToBool() const { return IsFixedWidth() && RawInteger() != 0; }
    // Float nodes give their value, integer and bool nodes their number, others 0.
    double ToFloat64() const;
    // String nodes give their text, others the empty text.
    QString ToString() const;
    // String and binary nodes give their bytes, others none.
    QByteArray ToBinary() const;

    // The same for the node at a path below this one, with the default when
    // there is no node there or it is not of a fitting kind (numbers and bools:
    // a fixed-width node; texts: a string node; bytes: string or binary).
    int8_t ReadInt8(QStringView APath, int8_t ADefault = 0) const;
    int16_t ReadInt16(QStringView APath, int16_t ADefault = 0) const;
    int32_t ReadInt32(QStringView APath, int32_t ADefault = 0) const;
    int64_t ReadInt64(QStringView APath, int64_t ADefault = 0) const;
    uint8_t ReadUInt8(QStringView APath, uint8_t ADefault = 0) const;
    uint16_t ReadUInt16(QStringView APath, uint16_t ADefault = 0) const;
    uint32_t ReadUInt32(QStringView APath, uint32_t ADefault = 0) const;
    uint64_t ReadUInt64(QStringView APath, uint64_t ADefault = 0) const;
    bool ReadBool(QStringView APath, bool ADefault = false) const;
    double ReadFloat64(QStringView APath, double ADefault = 0) const;
    QString ReadString(QStringView APath, const QString& ADefault = QString()) const;
    QByteArray ReadBinary(QStringView APath, const QByteArray& ADefault = QByteArray()) const;

protected:
    // An empty name raises "Invalid BitDocument NodeName"; a name that could
    // not be written (more than 126 characters) is cut to 80.
    TBitNode(TBitNodeType AType, const QString& ANodeName, int32_t ADataSize);
    int64_t RawInteger() const;

    int32_t FDataSize;

private:
    friend class TBitNodeList;
    friend class TBitDocumentReader;
    template <class T> T* CheckedCast(TBitNodeType AType);
    template <class T> const T* CheckedCast(TBitNodeType AType) const;
    template <class T> T* AddTyped(const QString& ANodeName);

    TBitNodeType FNodeType;
    QString FNodeName;
    TBitNode* FParentNode = nullptr;
    TBitNodeList FChildNodes;
};

class TBitNode_Directory final : public TBitNode {
public:
    static constexpr TBitNodeType Type = bntDirectory;
    explicit TBitNode_Directory(const QString& ANodeName) : TBitNode(bntDirectory, ANodeName, 0) {}
};

static_assert(std::endian::native == std::endian::little, "values are copied in the format's byte order");

// The fixed-width classes share one shape: V is the value type, S the stored
// field (bool nodes keep the raw integer so that any non-zero value is true
// and saving a loaded node reproduces its bytes).
template <TBitNodeType T, typename V, typename S = V>
class TBitNode_Fixed : public TBitNode {
public:
    static constexpr TBitNodeType Type = T;
    static constexpr int32_t Width = int32_t(sizeof(S));
    explicit TBitNode_Fixed(const QString& ANodeName) : TBitNode(T, ANodeName, Width) {}

    V Value() const
    {
        if constexpr (std::is_same_v<V, bool>)
            return FValue != 0;
        else
            return FValue;
    }
    void SetValue(V AValue)
    {
        if constexpr (std::is_same_v<V, bool>)
            FValue = AValue ? S(~S(0)) : S(0); // true is all bits set
        else
            FValue = AValue;
    }
    // The stored field as it is (for bool nodes the integer read or written).
    S RawValue() const { return FValue; }
    void SetRawValue(S AValue) { FValue = AValue; }

    void Clear() override { FValue = S(0); }
    void ReadValue(void* ADest) const override { std::memcpy(ADest, &FValue, sizeof(S)); }
    void WriteValue(const void* ASource, int32_t ACount) override { std::memcpy(&FValue, ASource, sizeof(S)); }

protected:
    S FValue{};
};

#define PELVOX_BIT_NODE_FIXED(Name, T, ...)                                                        \
    class Name final : public TBitNode_Fixed<T, __VA_ARGS__> {                                       \
    public:                                                                                          \
        using TBitNode_Fixed::TBitNode_Fixed;                                                        \
    };
PELVOX_BIT_NODE_FIXED(TBitNode_Int8, bntInt8, int8_t)
PELVOX_BIT_NODE_FIXED(TBitNode_Int16, bntInt16, int16_t)
PELVOX_BIT_NODE_FIXED(TBitNode_Int32, bntInt32, int32_t)
PELVOX_BIT_NODE_FIXED(TBitNode_Int64, bntInt64, int64_t)
PELVOX_BIT_NODE_FIXED(TBitNode_UInt8, bntUInt8, uint8_t)
PELVOX_BIT_NODE_FIXED(TBitNode_UInt16, bntUInt16, uint16_t)
PELVOX_BIT_NODE_FIXED(TBitNode_UInt32, bntUInt32, uint32_t)
PELVOX_BIT_NODE_FIXED(TBitNode_UInt64, bntUInt64, uint64_t)
PELVOX_BIT_NODE_FIXED(TBitNode_Float32, bntFloat32, float)
PELVOX_BIT_NODE_FIXED(TBitNode_Float64, bntFloat64, double)
PELVOX_BIT_NODE_FIXED(TBitNode_Bool8, bntBool8, bool, uint8_t)
PELVOX_BIT_NODE_FIXED(TBitNode_Bool16, bntBool16, bool, uint16_t)
PELVOX_BIT_NODE_FIXED(TBitNode_Bool32, bntBool32, bool, uint32_t)
#undef PELVOX_BIT_NODE_FIXED

// String and binary nodes keep their value as one block of bytes.
class TBitNode_String final : public TBitNode {
public:
    static constexpr TBitNodeType Type = bntString;
    explicit TBitNode_String(const QString& ANodeName) : TBitNode(bntString, ANodeName, 0) {}

    // The text up to the first NUL unit (all of it without one; a trailing
    // odd byte is ignored); empty when DataSize is 0.
    QString Value() const;
    // Stores the code units and one NUL unit; the empty text leaves the node empty.
    void SetValue(const QString& AValue);
    // A copy of the stored bytes (empty when DataSize is 0).
    QByteArray Memory() const { return QByteArray(Data(), FDataSize); }

    void Clear() override;
    void ReadValue(void* ADest) const override;
    void WriteValue(const void* ASource, int32_t ACount) override;

private:
    // Most texts of a document are short: they live inside the node, which
    // saves an allocation per text when large answers are loaded and freed.
    // The node stays within the allocator's small-chunk sizes (120 bytes),
    // which keeps freeing a large tree cheap.
    static constexpr int32_t InlineBytes = 32;
    const char* Data() const { return FHeap ? FHeap.get() : FInline; }
    char* Reserve(int32_t ABytes);

    std::unique_ptr<char[]> FHeap;
    char FInline[InlineBytes];
};

class TBitNode_Binary final : public TBitNode {
public:
    static constexpr TBitNodeType Type = bntBinary;
    explicit TBitNode_Binary(const QString& ANodeName) : TBitNode(bntBinary, ANodeName, 0) {}

    // The stored bytes (empty when DataSize is 0).
    const QByteArray& Memory() const { return FValue; }
    QByteArray Value() const { return FValue; }
    void SetValue(const QByteArray& AValue);
    // Replaces the bytes with the device's whole content, read from its start.
    void LoadFromStream(QIODevice& AStream);
    // Writes the bytes at the device's current position.
    void SaveToStream(QIODevice& AStream) const;
    void LoadFromFile(const QString& AFileName);
    void SaveToFile(const QString& AFileName) const;

    void Clear() override;
    void ReadValue(void* ADest) const override;
    void WriteValue(const void* ASource, int32_t ACount) override;

private:
    QByteArray FValue;
};

class TBitDocument {
public:
    TBitDocument();
    explicit TBitDocument(const QString& AName);
    ~TBitDocument();
    TBitDocument(const TBitDocument&) = delete;
    TBitDocument& operator=(const TBitDocument&) = delete;

    int16_t Code() const { return FCode; }
    uint8_t Version() const { return FVersion; }
    const QString& Name() const { return FName; }
    // Keeps at most the first 80 characters.
    void SetName(const QString& AName);
    TBitNode* Root() const { return FRoot.get(); }
    // Exact byte count of the serialised document (walks the whole tree).
    int32_t Size() const;

    // Constructs a node of ANodeType appended to AParentNode's children. A type
    // outside 0..15 raises "Invalid BitDocument Node"; a missing parent raises
    // "AOwnerNode can not = nil" (a parentless node: NewNode).
    static TBitNode* CreateNode(TBitNodeType ANodeType, TBitNode* AParentNode, const QString& ANodeName);
    static std::unique_ptr<TBitNode> NewNode(TBitNodeType ANodeType, const QString& ANodeName);

    // The node at a path of names below the root, separated by "/" or "\"
    // (matched with case; leading and trailing separators ignored), or null.
    TBitNode* FindNode(QStringView ANodePath) const;

    // Writes exactly Size() bytes to ADest.
    void SaveToBuffer(void* ADest) const;
    // Replaces the content with the document in ACount bytes. Raises on bad
    // input and then leaves the document empty (a root directory "/").
    void LoadFromBuffer(const void* ASource, int64_t ACount);
    // Reads and checks only the header; raises as LoadFromBuffer does.
    static bool PrefetchDocumentHeader(const void* ABitDocBuf, int64_t ACount, int16_t& ACode, uint8_t& AVersion,
                                       QString& AName);

    QByteArray SaveToBytes() const;
    void LoadFromBytes(const QByteArray& ABytes) { LoadFromBuffer(ABytes.constData(), ABytes.size()); }
    // Replaces the device's whole content with the document.
    void SaveToStream(QIODevice& AStream) const;
    // Loads size() bytes read from the device's current position.
    void LoadFromStream(QIODevice& AStream);
    void SaveToFile(const QString& AFileName) const;
    void LoadFromFile(const QString& AFileName);

    // An independent copy of ASource (through its bytes).
    void Assign(const TBitDocument& ASource);
    // Clears the root's value and frees its children; Name, Code, Version stay.
    void Clear();

    // Path reads from the root (see TBitNode::ReadInt32 ...).
    int8_t ReadInt8(QStringView APath, int8_t ADefault = 0) const { return FRoot->ReadInt8(APath, ADefault); }
    int16_t ReadInt16(QStringView APath, int16_t ADefault = 0) const { return FRoot->ReadInt16(APath, ADefault); }
    int32_t ReadInt32(QStringView APath, int32_t ADefault = 0) const { return FRoot->ReadInt32(APath, ADefault); }
    int64_t ReadInt64(QStringView APath, int64_t ADefault = 0) const { return FRoot->ReadInt64(APath, ADefault); }
    uint8_t ReadUInt8(QStringView APath, uint8_t ADefault = 0) const { return FRoot->ReadUInt8(APath, ADefault); }
    uint16_t ReadUInt16(QStringView APath, uint16_t ADefault = 0) const { return FRoot->ReadUInt16(APath, ADefault); }
    uint32_t ReadUInt32(QStringView APath, uint32_t ADefault = 0) const { return FRoot->ReadUInt32(APath, ADefault); }
    uint64_t ReadUInt64(QStringView APath, uint64_t ADefault = 0) const { return FRoot->ReadUInt64(APath, ADefault); }
    bool ReadBool(QStringView APath, bool ADefault = false) const { return FRoot->ReadBool(APath, ADefault); }
    double ReadFloat64(QStringView APath, double ADefault = 0) const { return FRoot->ReadFloat64(APath, ADefault); }
    QString ReadString(QStringView APath, const QString& ADefault = QString()) const
    {
        return FRoot->ReadString(APath, ADefault);
    }
    QByteArray ReadBinary(QStringView APath, const QByteArray& ADefault = QByteArray()) const
    {
        return FRoot->ReadBinary(APath, ADefault);
    }

private:
    int16_t FCode = BitDocumentCode;
    uint8_t FVersion = BitDocumentVersion;
    QString FName;
    std::unique_ptr<TBitNode> FRoot;
};

} // namespace pelvox
