#include "core/BitDocument.h"
#include "platform/Exception.h"
#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <functional>
#include <random>

using namespace pelvox;

namespace {

QByteArray Hex(const char* AText)
{
    return QByteArray::fromHex(QByteArray(AText).replace(' ', ""));
}

QByteArray Utf16(const QString& AText, bool ANul = true)
{
    QByteArray b(reinterpret_cast<const char*>(AText.utf16()), AText.size() * 2);
    if (ANul)
        b.append(2, '\0');
    return b;
}

QByteArray Le32(int32_t v)
{
    return QByteArray(reinterpret_cast<const char*>(&v), 4);
}

// One node's bytes with every field given as is.
QByteArray Node(int AType, int32_t AChildCount, const QByteArray& ANameField, int32_t ADataSize,
                const QByteArray& AValue = {})
{
    QByteArray b;
    b.append(char(AType));
    b.append(Le32(AChildCount));
    b.append(char(ANameField.size()));
    b.append(Le32(ADataSize));
    b.append(ANameField);
    b.append(AValue);
    return b;
}

const QByteArray Header = Hex("55 55 64 00");
const QByteArray RootWithChildren(int32_t ACount)
{
    return Node(bntDirectory, ACount, Utf16("/"), 0);
}

const QByteArray EmptyDocument = Hex("55 55 64 00  00 00 00 00 00 04 00 00 00 00 2F 00 00 00");
const QByteArray ErrorCodeDocument = Hex("55 55 64 04 41 00 00 00"
                                         "00 01 00 00 00 04 00 00 00 00 2F 00 00 00"
                                         "03 00 00 00 00 14 04 00 00 00"
                                         "65 00 72 00 72 00 6F 00 72 00 63 00 6F 00 64 00 65 00 00 00"
                                         "00 00 00 00");
const QByteArray MsgIdNode = Hex("0E 00 00 00 00 0C 06 00 00 00"
                                 "6D 00 73 00 67 00 69 00 64 00 00 00"
                                 "61 00 62 00 00 00");

QString ErrorOf(const std::function<void()>& AAction)
{
    try {
        AAction();
    } catch (const Exception& e) {
        return e.Message();
    }
    return QString();
}

bool IsEmptyDocument(const TBitDocument& ADoc)
{
    return ADoc.Root()->NodeType() == bntDirectory && ADoc.Root()->NodeName() == "/" &&
           ADoc.Root()->ChildNodes().Count() == 0;
}

QByteArray Resave(const QByteArray& ABytes)
{
    TBitDocument doc;
    doc.LoadFromBytes(ABytes);
    return doc.SaveToBytes();
}

} // namespace

TEST(BitDocument, WorkedExamplesSerialiseExactly)
{
    TBitDocument empty;
    EXPECT_EQ(empty.Size(), 18);
    EXPECT_EQ(empty.SaveToBytes(), EmptyDocument);

    TBitDocument answer;
    answer.SetName("A");
    TBitDocument::CreateNode(bntInt32, answer.Root(), "errorcode")->AsInt32()->SetValue(0);
    EXPECT_EQ(answer.Size(), 56);
    EXPECT_EQ(answer.SaveToBytes(), ErrorCodeDocument);

    TBitDocument withString;
    withString.Root()->AddStringNode("msgid", "ab");
    const QByteArray bytes = withString.SaveToBytes();
    EXPECT_EQ(MsgIdNode.size(), 28);
    EXPECT_EQ(bytes, Header + RootWithChildren(1) + MsgIdNode);
}

TEST(BitDocument, WorkedExamplesLoadBack)
{
    for (const QByteArray& bytes : {EmptyDocument, ErrorCodeDocument, Header + RootWithChildren(1) + MsgIdNode}) {
        TBitDocument doc;
        doc.LoadFromBytes(bytes);
        EXPECT_EQ(doc.SaveToBytes(), bytes);
    }
    TBitDocument doc;
    doc.LoadFromBytes(ErrorCodeDocument);
    EXPECT_EQ(doc.Name(), "A");
    EXPECT_EQ(doc.Code(), 0x5555);
    EXPECT_EQ(doc.Version(), 100);
    ASSERT_NE(doc.FindNode(u"errorcode"), nullptr);
    EXPECT_EQ(doc.FindNode(u"errorcode")->AsInt32()->Value(), 0);

    doc.LoadFromBytes(Header + RootWithChildren(1) + MsgIdNode);
    EXPECT_EQ(doc.ReadString(u"msgid"), "ab");
}

TEST(BitDocument, PrefetchReadsOnlyTheHeader)
{
    int16_t code = 0;
    uint8_t version = 0;
    QString name;
    // The header alone is enough, the nodes are not looked at.
    const QByteArray headerOnly = ErrorCodeDocument.left(8);
    EXPECT_TRUE(TBitDocument::PrefetchDocumentHeader(headerOnly.constData(), headerOnly.size(), code, version, name));
    EXPECT_EQ(code, 0x5555);
    EXPECT_EQ(version, 100);
    EXPECT_EQ(name, "A");
    EXPECT_EQ(ErrorOf([&] { TBitDocument::PrefetchDocumentHeader("\x55\x55\x64", 3, code, version, name); }),
              "Invalid BitDocument");
    EXPECT_EQ(ErrorOf([&] { TBitDocument::PrefetchDocumentHeader("\x55\x55\x64\x04\x41", 5, code, version, name); }),
              "Invalid BitDocument");
}

// Every kind of node survives a save and load with its value and bytes.
TEST(BitDocument, AllNodeTypesRoundTrip)
{
    TBitDocument doc("Users.Login[ACK]");
    TBitNode* root = doc.Root();
    root->AddInt8Node("i8", -5);
    root->AddInt16Node("i16", -1234);
    root->AddInt32Node("i32", -123456789);
    root->AddInt64Node("i64", -1234567890123LL);
    root->AddUInt8Node("u8", 250);
    root->AddUInt16Node("u16", 65000);
    root->AddUInt32Node("u32", 4000000000u);
    root->AddUInt64Node("u64", 18000000000000000000ull);
    root->AddFloat32Node("f32", 1.5f);
    root->AddFloat64Node("f64", 45000.25);
    root->AddBool8Node("b8", true);
    root->AddBool16Node("b16", false);
    root->AddBool32Node("b32", true);
    TBitNode_Directory* dir = root->AddDirectoryNode("dir");
    dir->AddStringNode("s", QString::fromUtf8("张三 ab"));
    dir->AddBinaryNode("bin", QByteArray("\x00\x01\xFF", 3));
    dir->AddStringNode("empty", QString());

    const QByteArray bytes = doc.SaveToBytes();
    ASSERT_EQ(bytes.size(), doc.Size());
    TBitDocument copy;
    copy.LoadFromBytes(bytes);
    EXPECT_EQ(copy.SaveToBytes(), bytes);
    EXPECT_EQ(copy.Name(), "Users.Login[ACK]");
    EXPECT_EQ(copy.FindNode(u"i8")->AsInt8()->Value(), -5);
    EXPECT_EQ(copy.FindNode(u"i16")->AsInt16()->Value(), -1234);
    EXPECT_EQ(copy.FindNode(u"i32")->AsInt32()->Value(), -123456789);
    EXPECT_EQ(copy.FindNode(u"i64")->AsInt64()->Value(), -1234567890123LL);
    EXPECT_EQ(copy.FindNode(u"u8")->AsUInt8()->Value(), 250);
    EXPECT_EQ(copy.FindNode(u"u16")->AsUInt16()->Value(), 65000);
    EXPECT_EQ(copy.FindNode(u"u32")->AsUInt32()->Value(), 4000000000u);
    EXPECT_EQ(copy.FindNode(u"u64")->AsUInt64()->Value(), 18000000000000000000ull);
    EXPECT_EQ(copy.FindNode(u"f32")->AsFloat32()->Value(), 1.5f);
    EXPECT_EQ(copy.FindNode(u"f64")->AsFloat64()->Value(), 45000.25);
    EXPECT_TRUE(copy.FindNode(u"b8")->AsBool8()->Value());
    EXPECT_FALSE(copy.FindNode(u"b16")->AsBool16()->Value());
    EXPECT_EQ(copy.FindNode(u"b32")->AsBool32()->RawValue(), 0xFFFFFFFFu); // true is all bits set
    EXPECT_EQ(copy.ReadString(u"dir/s"), QString::fromUtf8("张三 ab"));
    EXPECT_EQ(copy.FindNode(u"dir/bin")->AsBinary()->Value(), QByteArray("\x00\x01\xFF", 3));
    EXPECT_EQ(copy.FindNode(u"dir/empty")->DataSize(), 0);
    EXPECT_EQ(copy.ReadString(u"dir/empty", "x"), "");
}

// Documents from this writer, of random shape, reload to the same bytes.
TEST(BitDocument, ResavingReproducesRandomDocuments)
{
    std::mt19937 rng(20240611);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    auto randomName = [&] {
        QString s;
        const int len = 1 + pick(80);
        for (int i = 0; i < len; ++i)
            s += QChar(char16_t(pick(4) == 0 ? 0x4E00 + pick(500) : 'a' + pick(26)));
        return s;
    };
    for (int round = 0; round < 50; ++round) {
        TBitDocument doc(pick(3) ? randomName() : QString());
        std::vector<TBitNode*> nodes{doc.Root()};
        const int count = pick(200);
        for (int i = 0; i < count; ++i) {
            TBitNode* parent = nodes[size_t(pick(int(nodes.size())))];
            const auto type = TBitNodeType(pick(BitNodeTypeCount));
            TBitNode* node = TBitDocument::CreateNode(type, parent, randomName());
            if (node->IsFixedWidth()) {
                uint64_t raw = (uint64_t(rng()) << 32) | rng();
                node->WriteValue(&raw, node->DataSize());
            } else if (type == bntString) {
                node->AsString()->SetValue(pick(5) ? randomName() : QString());
            } else if (type == bntBinary) {
                node->AsBinary()->SetValue(QByteArray(pick(40), char(pick(256))));
            }
            nodes.push_back(node);
        }
        const QByteArray bytes = doc.SaveToBytes();
        ASSERT_EQ(bytes.size(), doc.Size());
        EXPECT_EQ(Resave(bytes), bytes) << "round " << round;
    }
}

struct TLoadCase {
    const char* What;
    QByteArray Bytes;
    QString Error; // empty: loads
    std::function<void(const TBitDocument&)> Check;
};

TEST(BitDocument, LoadEdgeCases)
{
    const QString name100 = QString(100, u'n');
    QByteArray deep64 = Header, deep65 = Header;
    for (int i = 0; i < 64; ++i)
        deep64 += Node(bntDirectory, 1, Utf16("d"), 0);
    deep65 = deep64 + Node(bntDirectory, 1, Utf16("d"), 0);
    deep64 += Node(bntInt8, 0, Utf16("leaf"), 1, "\x07");
    deep65 += Node(bntInt8, 0, Utf16("leaf"), 1, "\x07");

    const std::vector<TLoadCase> cases = {
        {"a node without name field is NONAME", Header + RootWithChildren(1) + Node(bntInt32, 0, {}, 4, Le32(7)), {},
         [](const TBitDocument& d) { EXPECT_EQ(d.ReadInt32(u"NONAME"), 7); }},
        {"a 100-character name is cut to 80", Header + RootWithChildren(1) + Node(bntInt8, 0, Utf16(name100), 1, "\x01"),
         {}, [&](const TBitDocument& d) { EXPECT_EQ(d.Root()->ChildNodes()[0]->NodeName(), name100.left(80)); }},
        {"a document name of 100 characters is cut to 80",
         Hex("55 55 64") + char(202) + Utf16(name100) + RootWithChildren(0), {},
         [&](const TBitDocument& d) { EXPECT_EQ(d.Name(), name100.left(80)); }},
        {"a name field of one NUL gives an empty name",
         Header + RootWithChildren(1) + Node(bntInt8, 0, Hex("00 00"), 1, "\x05"), {},
         [](const TBitDocument& d) { EXPECT_EQ(d.Root()->ChildNodes()[0]->NodeName(), ""); }},
        {"a name without NUL is the whole field, an odd byte ignored",
         Header + RootWithChildren(1) + Node(bntInt8, 0, Utf16("abc", false) + "x", 1, "\x05"), {},
         [](const TBitDocument& d) { EXPECT_EQ(d.ReadInt8(u"abc"), 5); }},
        {"an empty string value", Header + RootWithChildren(1) + Node(bntString, 0, Utf16("s"), 0), {},
         [](const TBitDocument& d) { EXPECT_EQ(d.ReadString(u"s", "x"), ""); }},
        {"a string value without NUL", Header + RootWithChildren(1) + Node(bntString, 0, Utf16("s"), 4, Utf16("ab", false)),
         {}, [](const TBitDocument& d) { EXPECT_EQ(d.ReadString(u"s"), "ab"); }},
        {"a bool holding 2 is true", Header + RootWithChildren(1) + Node(bntBool32, 0, Utf16("b"), 4, Le32(2)), {},
         [](const TBitDocument& d) {
             EXPECT_TRUE(d.FindNode(u"b")->AsBool32()->Value());
             EXPECT_TRUE(d.ReadBool(u"b"));
         }},
        {"a fixed-width node with DataSize 0 holds 0", Header + RootWithChildren(1) + Node(bntInt32, 0, Utf16("i"), 0), {},
         [](const TBitDocument& d) {
             EXPECT_EQ(d.ReadInt32(u"i", 9), 0);
             EXPECT_EQ(d.FindNode(u"i")->DataSize(), 4);
         }},
        {"bytes beyond a fixed width are skipped",
         Header + RootWithChildren(2) + Node(bntInt16, 0, Utf16("i"), 4, Hex("01 02 03 04")) +
             Node(bntInt8, 0, Utf16("j"), 1, "\x09"),
         {}, [](const TBitDocument& d) {
             EXPECT_EQ(d.ReadInt16(u"i"), 0x0201);
             EXPECT_EQ(d.ReadInt8(u"j"), 9);
         }},
        {"a negative child count means no children", Header + Node(bntDirectory, -3, Utf16("/"), 0), {},
         [](const TBitDocument& d) { EXPECT_EQ(d.Root()->ChildNodes().Count(), 0); }},
        {"bytes after the last node are ignored", EmptyDocument + "junk", {},
         [](const TBitDocument& d) { EXPECT_EQ(d.SaveToBytes(), EmptyDocument); }},
        {"the root may be any node", Header + Node(bntString, 0, Utf16("r"), 4, Utf16("x")), {},
         [](const TBitDocument& d) { EXPECT_EQ(d.Root()->AsString()->Value(), "x"); }},
        {"64 levels of nesting are accepted", deep64, {}, [](const TBitDocument& d) {
             EXPECT_EQ(d.ReadInt8(QString("d/").repeated(63) + "leaf"), 7); // the root is level 0
         }},

        {"3 bytes", Hex("55 55 64"), "Invalid BitDocument", {}},
        {"a bad version", Hex("55 55 65 00") + RootWithChildren(0), "Invalid BitDocument Version", {}},
        {"a bad code", Hex("54 55 64 00") + RootWithChildren(0), "Invalid BitDocument Code", {}},
        {"a header name past the end", Hex("55 55 64 04 41 00"), "Invalid BitDocument", {}},
        {"no root", Header, "Invalid BitDocument", {}},
        {"type byte 16", Header + RootWithChildren(1) + Node(16, 0, Utf16("x"), 0), "Invalid BitDocument Node", {}},
        {"a buffer ending inside a value",
         Header + RootWithChildren(1) + Node(bntInt32, 0, Utf16("i"), 4, Le32(1)).chopped(1), "Invalid BitDocument", {}},
        {"a name past the end", Header + RootWithChildren(1) + Node(bntInt8, 0, Utf16("name"), 0).chopped(3),
         "Invalid BitDocument", {}},
        {"a negative DataSize", Header + RootWithChildren(1) + Node(bntString, 0, Utf16("s"), -2, Utf16("ab")),
         "Invalid BitDocument", {}},
        {"an oversized DataSize", Header + RootWithChildren(1) + Node(bntString, 0, Utf16("s"), 0x7FFFFFFF, Utf16("ab")),
         "Invalid BitDocument", {}},
        {"more children than the bytes can hold", Header + RootWithChildren(3) + Node(bntInt8, 0, {}, 1, "\x01") +
                                                      Node(bntInt8, 0, {}, 1, "\x01"),
         "Invalid BitDocument", {}},
        {"a huge child count", Header + RootWithChildren(0x7FFFFFFF), "Invalid BitDocument", {}},
        {"a short fixed-width value", Header + RootWithChildren(1) + Node(bntInt32, 0, Utf16("i"), 3, Hex("01 02 03")),
         "Invalid BitDocument", {}},
        {"65 levels of nesting", deep65, "Invalid BitDocument", {}},
    };

    for (const TLoadCase& c : cases) {
        SCOPED_TRACE(c.What);
        TBitDocument doc("Previous");
        doc.Root()->AddInt32Node("old", 1);
        const QString error = ErrorOf([&] { doc.LoadFromBytes(c.Bytes); });
        EXPECT_EQ(error, c.Error);
        if (c.Error.isEmpty()) {
            if (c.Check)
                c.Check(doc);
        } else {
            EXPECT_TRUE(IsEmptyDocument(doc));
        }
    }
}

TEST(BitDocument, LoadedBoolAndFixedValuesResaveAsRead)
{
    // Re-saving keeps the bytes that were read, not a normalised form.
    const QByteArray bytes = Header + RootWithChildren(2) + Node(bntBool32, 0, Utf16("b"), 4, Le32(2)) +
                             Node(bntFloat64, 0, Utf16("f"), 8, Hex("01 00 00 00 00 00 F8 7F"));
    EXPECT_EQ(Resave(bytes), bytes);
}

TEST(BitDocument, PathLookup)
{
    TBitDocument doc;
    TBitNode* root = doc.Root();
    TBitNode* errorcode = root->AddInt32Node("errorcode", 0);
    TBitNode* serverInfo = root->AddDirectoryNode("ServerInfo");
    TBitNode* serverTime = serverInfo->AddFloat64Node("ServerTime", 45000.5);
    root->AddDirectoryNode("item")->AddInt32Node("a", 1);
    TBitNode* secondItem = root->AddDirectoryNode("item");
    TBitNode* b = secondItem->AddInt32Node("b", 2);
    TBitNode* z = root->AddDirectoryNode("x\\y")->AddInt32Node("z", 3);

    const std::vector<std::pair<QString, TBitNode*>> cases = {
        {"errorcode", errorcode},
        {"/errorcode", errorcode},
        {"\\/errorcode/\\", errorcode},
        {"ErrorCode", nullptr},
        {"ServerInfo", serverInfo},
        {"ServerInfo/", serverInfo},
        {"ServerInfo/ServerTime", serverTime},
        {"ServerInfo\\ServerTime", serverTime},
        {"/ServerInfo\\ServerTime\\", serverTime},
        {"ServerInfo//ServerTime", nullptr},
        {"ServerInfo\\\\ServerTime", nullptr},
        {"", nullptr},
        {"/", nullptr},
        {"//\\", nullptr},
        {"item", root->ChildNodes()[2]},
        {"item/b", b},      // the first "item" has no "b": the second is tried
        {"item\\b", b},
        {"item/c", nullptr},
        {"x\\y/z", z},       // split at the slash first: child "x\y", then "z"
        {"x/y/z", nullptr},
        {"ServerInfo/ServerTime/more", nullptr},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(doc.FindNode(path), expected) << path.toStdString();
    EXPECT_EQ(serverInfo->FindNode(u"ServerTime"), serverTime);
    EXPECT_EQ(root->ChildNodes().FindNode(u"item"), root->ChildNodes()[2]);
    EXPECT_EQ(root->ChildNodes().FindNode(u"Item"), nullptr);
}

TEST(BitDocument, ReadsIntegersAtFixedWidths)
{
    TBitDocument doc;
    TBitNode* root = doc.Root();
    root->AddInt32Node("i32", 0x12345678);
    root->AddInt8Node("minus", -1);
    root->AddUInt8Node("status", 255);
    root->AddInt16Node("sex", 2);
    root->AddBool8Node("flag", true);
    root->AddStringNode("text", "12");
    root->AddFloat64Node("time", 45000.5);

    EXPECT_EQ(doc.ReadUInt8(u"i32"), 0x78);
    EXPECT_EQ(doc.ReadInt16(u"i32"), 0x5678);
    EXPECT_EQ(doc.ReadInt64(u"i32"), 0x12345678);
    EXPECT_EQ(doc.ReadInt32(u"minus"), -1);   // signed types widen with their sign
    EXPECT_EQ(doc.ReadUInt16(u"minus"), 0xFFFF);
    EXPECT_EQ(doc.ReadInt32(u"status"), 255); // unsigned ones with zeros
    EXPECT_EQ(doc.ReadInt8(u"status"), -1);
    EXPECT_EQ(doc.ReadUInt8(u"sex"), 2);
    EXPECT_EQ(doc.ReadInt32(u"flag"), 255);
    EXPECT_TRUE(doc.ReadBool(u"flag"));
    EXPECT_TRUE(doc.ReadBool(u"sex"));
    EXPECT_EQ(doc.ReadFloat64(u"time"), 45000.5);
    EXPECT_EQ(doc.ReadFloat64(u"sex"), 2.0);

    // Missing nodes and nodes of an unfitting kind give the default.
    EXPECT_EQ(doc.ReadInt32(u"missing", -7), -7);
    EXPECT_EQ(doc.ReadInt32(u"text", -7), -7);
    EXPECT_TRUE(doc.ReadBool(u"missing", true));
    EXPECT_EQ(doc.ReadString(u"i32", "def"), "def");
    EXPECT_EQ(doc.ReadString(u"missing", "def"), "def");
    EXPECT_EQ(doc.ReadBinary(u"text"), Utf16("12"));
    EXPECT_EQ(doc.ReadBinary(u"i32", "d"), "d");
}

TEST(BitDocument, NodeRulesAndErrors)
{
    TBitDocument doc;
    TBitNode* root = doc.Root();
    EXPECT_EQ(ErrorOf([&] { TBitDocument::CreateNode(TBitNodeType(16), root, "x"); }), "Invalid BitDocument Node");
    EXPECT_EQ(ErrorOf([&] { TBitDocument::CreateNode(bntInt8, root, ""); }), "Invalid BitDocument NodeName");
    EXPECT_EQ(ErrorOf([&] { TBitNodeList list(nullptr); }), "AOwnerNode can not = nil");
    EXPECT_EQ(root->ChildNodes().Count(), 0);

    TBitNode* text = root->AddStringNode("text", "abc");
    EXPECT_EQ(ErrorOf([&] { text->AsInt32(); }), "Check BitDocument Node Error");
    EXPECT_EQ(text->AsString(), text);

    // Names: the constructor keeps what can be written, cuts the rest to 80;
    // assigned names keep 80.
    const QString n126(126, u'a'), n127(127, u'b'), n100(100, u'c');
    EXPECT_EQ(root->AddInt8Node(n126)->NodeName(), n126);
    EXPECT_EQ(root->AddInt8Node(n127)->NodeName(), n127.left(80));
    text->SetNodeName(n100);
    EXPECT_EQ(text->NodeName(), n100.left(80));
    doc.SetName(n100);
    EXPECT_EQ(doc.Name(), n100.left(80));
    TBitDocument longNames;
    longNames.Root()->AddInt8Node(n126, 1);
    EXPECT_EQ(longNames.Size(), 18 + 10 + 254 + 1);
    EXPECT_EQ(Resave(longNames.SaveToBytes()).size(), 18 + 10 + 162 + 1);

    // Values: empty text leaves the node empty; Clear resets.
    EXPECT_EQ(text->DataSize(), 8);
    text->AsString()->SetValue(QString());
    EXPECT_EQ(text->DataSize(), 0);
    TBitNode_Int32* i = root->AddInt32Node("i", 5);
    i->Clear();
    EXPECT_EQ(i->Value(), 0);
    EXPECT_EQ(i->DataSize(), 4);
    TBitNode_Binary* bin = root->AddBinaryNode("bin", "xyz");
    bin->WriteValue("q", 0); // a count of 0 changes nothing
    EXPECT_EQ(bin->Value(), "xyz");
    bin->Clear();
    EXPECT_EQ(bin->DataSize(), 0);
}

TEST(BitDocument, NodeListOwnershipAndMoves)
{
    TBitDocument doc;
    TBitNode* root = doc.Root();
    TBitNode* a = root->AddDirectoryNode("a");
    TBitNode* b = root->AddDirectoryNode("b");
    TBitNode* leaf = a->AddInt8Node("leaf", 1);

    EXPECT_EQ(a->ChildNodes().Add(leaf), 0); // already there
    EXPECT_EQ(b->ChildNodes().Add(leaf), 0); // moves
    EXPECT_EQ(a->ChildNodes().Count(), 0);
    EXPECT_EQ(leaf->ParentNode(), b);
    leaf->SetParentNode(a);
    EXPECT_EQ(doc.FindNode(u"a/leaf"), leaf);
    EXPECT_EQ(b->ChildNodes().Count(), 0);

    // A node cannot go below itself.
    EXPECT_FALSE(ErrorOf([&] { a->SetParentNode(leaf); }).isEmpty());
    EXPECT_EQ(a->ParentNode(), root);

    std::unique_ptr<TBitNode> taken = a->ChildNodes().Remove(leaf);
    ASSERT_EQ(taken.get(), leaf);
    EXPECT_EQ(leaf->ParentNode(), nullptr);
    EXPECT_EQ(a->ChildNodes().Remove(leaf), nullptr);
    EXPECT_EQ(b->ChildNodes().Add(std::move(taken)), 0);
    EXPECT_EQ(doc.FindNode(u"b/leaf"), leaf);

    std::unique_ptr<TBitNode> loose = TBitDocument::NewNode(bntDirectory, "loose");
    TBitNode* inner = loose->AddDirectoryNode("inner");
    EXPECT_FALSE(ErrorOf([&] { inner->ChildNodes().Add(std::move(loose)); }).isEmpty());

    root->ChildNodes().Delete(0);
    EXPECT_EQ(doc.FindNode(u"a"), nullptr);
    EXPECT_EQ(root->ChildNodes().Count(), 1);
}

TEST(BitDocument, ClearAndAssign)
{
    TBitDocument source("Chat.SendMessage");
    source.Root()->AddStringNode("text", "hello");
    TBitDocument copy;
    copy.Assign(source);
    source.FindNode(u"text")->AsString()->SetValue("changed");
    EXPECT_EQ(copy.Name(), "Chat.SendMessage");
    EXPECT_EQ(copy.ReadString(u"text"), "hello");

    copy.Clear();
    EXPECT_EQ(copy.Name(), "Chat.SendMessage");
    EXPECT_TRUE(IsEmptyDocument(copy));

    TBitDocument stringRoot;
    stringRoot.LoadFromBytes(Header + Node(bntString, 1, Utf16("r"), 4, Utf16("x")) + Node(bntInt8, 0, {}, 1, "\x01"));
    stringRoot.Clear();
    EXPECT_EQ(stringRoot.Root()->NodeType(), bntString);
    EXPECT_EQ(stringRoot.Root()->DataSize(), 0);
    EXPECT_EQ(stringRoot.Root()->ChildNodes().Count(), 0);
}

TEST(BitDocument, StreamsAndFiles)
{
    TBitDocument doc("A");
    doc.Root()->AddInt32Node("errorcode", 0);

    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    buffer.write(QByteArray(100, 'z'));
    doc.SaveToStream(buffer);
    EXPECT_EQ(buffer.data(), ErrorCodeDocument); // the whole content is replaced
    EXPECT_EQ(buffer.pos(), 56);

    buffer.seek(0);
    TBitDocument loaded;
    loaded.LoadFromStream(buffer);
    EXPECT_EQ(loaded.SaveToBytes(), ErrorCodeDocument);

    QBuffer shortStream;
    shortStream.setData(QByteArray("\x55\x55\x64", 3));
    shortStream.open(QIODevice::ReadOnly);
    EXPECT_EQ(ErrorOf([&] { loaded.LoadFromStream(shortStream); }), "Invalid BitDocument");

    QTemporaryDir dir;
    const QString file = dir.filePath("doc.bin");
    {
        QFile longer(file);
        ASSERT_TRUE(longer.open(QIODevice::WriteOnly));
        longer.write(QByteArray(500, 'z'));
    }
    doc.SaveToFile(file);
    TBitDocument fromFile;
    fromFile.LoadFromFile(file);
    EXPECT_EQ(fromFile.SaveToBytes(), ErrorCodeDocument);
    EXPECT_FALSE(ErrorOf([&] { fromFile.LoadFromFile(dir.filePath("missing")); }).isEmpty());

    // Binary nodes load a stream's whole content whatever its position.
    TBitNode_Binary* bin = doc.Root()->AddBinaryNode("bin");
    buffer.seek(10);
    bin->LoadFromStream(buffer);
    EXPECT_EQ(bin->Value(), ErrorCodeDocument);
    bin->SaveToFile(dir.filePath("bin"));
    TBitNode_Binary* back = doc.Root()->AddBinaryNode("back");
    back->LoadFromFile(dir.filePath("bin"));
    EXPECT_EQ(back->Value(), ErrorCodeDocument);
    QBuffer empty;
    empty.open(QIODevice::ReadOnly);
    back->LoadFromStream(empty);
    EXPECT_EQ(back->DataSize(), 0);
}
