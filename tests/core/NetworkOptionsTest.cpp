#include "SettingsTestSupport.h"
#include "TestP2PService.h"
#include "TestSupport.h"
#include "core/Client_NetworkOptions.h"
#include "core/Client_OEM.h"
#include "core/Client_P2PLogin.h"
#include "core/XmlFile.h"
#include "platform/Exception.h"
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace pelvox;
using namespace pelvox::test;

namespace {

QString Summary(const TNetworkOptions& options)
{
    QStringList items;
    for (const auto& i : options.Items())
        items << QStringLiteral("%1|%2|%3|%4|%5|%6")
                     .arg(i->NetworkName, i->Address())
                     .arg(i->Port)
                     .arg(i->LocalPort)
                     .arg(i->ProxyType)
                     .arg(i->ProxyPort);
    return items.join(u';');
}

} // namespace

TEST(NetworkOptions, ProfilesFileEdgeCases)
{
    TempAppRoot root;
    const QString file = TNetworkOptions::FileName();
    const QString def = QStringLiteral("默认|%1|5801|0|0|0").arg(OEM().OEMServerAddress);
    struct Case {
        QString content; // inside the root element; null: no file
        QString expected;
    };
    const std::vector<Case> cases{
        {QString(), def},
        {"<Server><NetworkName>a</NetworkName></Server>", def},
        {"<ITEM><NetworkName>a</NetworkName></ITEM>", "a||0|0|0|0"},
        {"<Item><NetworkName> n </NetworkName><Address> host.example \t</Address><Port>6000</Port></Item>",
         " n |host.example|6000|0|0|0"},
        {"<Item><Port> 5801</Port><LocalPort>70000</LocalPort><ProxyType>x</ProxyType><ProxyPort>-1</ProxyPort></Item>",
         "||0|0|0|0"},
        {"<Item><ProxyType>7</ProxyType><LocalPort>4000</LocalPort></Item><!-- c --><item><NetworkName>b</NetworkName></item>",
         "||0|4000|7|0;b||0|0|0|0"},
    };
    for (const Case& c : cases) {
        QFile::remove(file);
        if (!c.content.isNull()) WriteUtf16File(file, QStringLiteral("<Network>%1</Network>").arg(c.content));
        TNetworkOptions options;
        EXPECT_EQ(Summary(options), c.expected) << c.content.toStdString();
        for (const auto& i : options.Items()) EXPECT_EQ(i->NetworkDelay(), -1);
    }
}

TEST(NetworkOptions, SaveThenLoadKeepsEveryProfileField)
{
    TempAppRoot root;
    TNetworkOptions options;
    options.Items().clear();
    for (int n = 0; n < 2; ++n) {
        auto item = std::make_unique<TNetworkItem>();
        item->NetworkName = QStringLiteral(" 总部 %1").arg(n);
        item->SetAddress(QStringLiteral("10.0.0.%1").arg(n + 1));
        item->Port = 5801 + n;
        item->LocalPort = 4000 + n;
        item->ProxyType = 2;
        item->ProxyAddress = QStringLiteral("proxy");
        item->ProxyPort = 8080;
        item->Username = QStringLiteral("user");
        item->Password = QStringLiteral("p<&>ss");
        item->Domain = QStringLiteral("CORP");
        options.Items().push_back(std::move(item));
    }
    options.SaveData();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(TNetworkOptions::FileName()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u); // it holds the proxy password

    TNetworkOptions loaded;
    ASSERT_EQ(loaded.Items().size(), 2u);
    for (size_t n = 0; n < 2; ++n) {
        const TNetworkItem& a = *options.Items()[n];
        const TNetworkItem& b = *loaded.Items()[n];
        EXPECT_EQ(QStringList({a.NetworkName, a.Address(), a.ProxyAddress, a.Username, a.Password, a.Domain}),
                  QStringList({b.NetworkName, b.Address(), b.ProxyAddress, b.Username, b.Password, b.Domain}));
        EXPECT_EQ(std::tuple(a.Port, a.LocalPort, a.ProxyType, a.ProxyPort),
                  std::tuple(b.Port, b.LocalPort, b.ProxyType, b.ProxyPort));
        EXPECT_EQ(b.NetworkDelay(), -1);
    }
    loaded.CurrentItem().Assign(*loaded.Items()[1]);
    EXPECT_EQ(loaded.CurrentItem().Address(), QStringLiteral("10.0.0.2"));
    EXPECT_EQ(loaded.CurrentItem().Password, QStringLiteral("p<&>ss"));
}

TEST(MultimediaOptions, DevicesFileEdgeCases)
{
    TempAppRoot root;
    struct Case {
        QString content;
        std::function<QString(const TMultimediaOptions&)> get;
        QString expected;
    };
    auto quality = [](const TMultimediaOptions& m) { return QString::number(m.VideoQuality); };
    auto mic = [](const TMultimediaOptions& m) { return QString::number(m.MicDeviceID); };
    const std::vector<Case> cases{
        {"<VideoQuality>5</VideoQuality>", quality, "1"},
        {"<VideoQuality>2</VideoQuality>", quality, "2"},
        {"<VideoQuality> 0 </VideoQuality>", quality, "0"},
        {"<VideoQuality>best</VideoQuality>", quality, "1"},
        {"<MicDeviceID> 3 </MicDeviceID>", mic, "3"},
        {"<MicDeviceID>x</MicDeviceID>", mic, "7"},
        {"<CameraDeviceName>  USB 摄像头 </CameraDeviceName>", [](const TMultimediaOptions& m) { return m.CameraDeviceName; },
         "USB 摄像头"},
        {"<PictureSavePath> %AppRoot%Pics\\Shots </PictureSavePath>",
         [](const TMultimediaOptions& m) { return m.PictureSavePath(); }, root.Path() + "Pics/Shots"},
    };
    for (const Case& c : cases) {
        WriteUtf16File(TMultimediaOptions::FileName(), QStringLiteral("<Multimedia>%1</Multimedia>").arg(c.content));
        TMultimediaOptions m;
        m.MicDeviceID = 7;
        m.LoadData();
        EXPECT_EQ(c.get(m), c.expected) << c.content.toStdString();
    }
    TMultimediaOptions m;
    m.SetPictureSavePath(QStringLiteral("  /tmp/x "));
    EXPECT_EQ(m.PictureSavePath(), QStringLiteral("/tmp/x/"));
}

TEST(NetworkOptions, TestConnectionMeasuresOnlyAnsweringProfiles)
{
    TempAppRoot root;
    testserver::TestP2PService answering, silent;
    ASSERT_TRUE(answering.Start(QStringLiteral("127.0.0.1"), 0));
    const uint16_t port = answering.Port();
    silent.SetSilent(true);
    ASSERT_TRUE(silent.Start(QStringLiteral("127.0.0.2"), port));

    TNetworkOptions options;
    options.Items().clear();
    for (const char* host : {"127.0.0.1", "127.0.0.2"}) {
        auto item = std::make_unique<TNetworkItem>();
        item->SetAddress(QString::fromLatin1(host));
        options.Items().push_back(std::move(item));
    }
    for (const auto& item : options.Items()) item->TestConnection(port);
    EXPECT_GE(options.Items()[0]->NetworkDelay(), 0);
    EXPECT_EQ(options.Items()[1]->NetworkDelay(), -1);
    EXPECT_EQ(options.BestItemIndex(), 0);
    EXPECT_GT(answering.LoginRequests(), 0);
    EXPECT_GT(silent.LoginRequests(), 0);

    // Without a responder nothing answers: both -1 (the old delay is not kept), the first is taken.
    answering.Stop();
    silent.Stop();
    for (const auto& item : options.Items()) item->TestConnection(port);
    EXPECT_EQ(options.Items()[0]->NetworkDelay(), -1);
    EXPECT_EQ(options.Items()[1]->NetworkDelay(), -1);
    EXPECT_EQ(options.BestItemIndex(), 0);
}

TEST(NetworkOptions, RefusedLoginCountsAsUnreachable)
{
    TempAppRoot root;
    testserver::TestP2PService refusing;
    refusing.SetResult(0);
    ASSERT_TRUE(refusing.Start());
    EXPECT_FALSE(refusing.Start(QStringLiteral("10.1.2.3"))); // loopback only
    ASSERT_TRUE(refusing.Start());
    TNetworkItem item;
    item.SetAddress(QStringLiteral("127.0.0.1"));
    item.TestConnection(refusing.Port());
    EXPECT_EQ(item.NetworkDelay(), -1);
}

TEST(P2PLogin, Datagrams)
{
    EXPECT_EQ(EncodeP2PLoginRequest(), QByteArray("\x04\x00\x01\x00", 4));
    EXPECT_TRUE(IsP2PLoginRequest("\x04\x00\x01\x00", 4));
    EXPECT_FALSE(IsP2PLoginRequest("\x06\x00\x01\x00\x00", 5)); // MsgLen must match
    EXPECT_FALSE(IsP2PLoginRequest("\x04\x00\x02\x00", 4));

    TP2PLoginReply reply{0x0A000005, 4000, 1};
    const QByteArray bytes = EncodeP2PLoginReply(reply);
    EXPECT_EQ(bytes, QByteArray("\x0C\x00\x02\x00\x0A\x00\x00\x05\x0F\xA0\x01\x00", 12));
    TP2PLoginReply back;
    ASSERT_TRUE(DecodeP2PLoginReply(bytes.constData(), size_t(bytes.size()), back));
    EXPECT_EQ(IPv4ToStr(back.PublicAddr), QStringLiteral("10.0.0.5"));
    EXPECT_EQ(back.PublicPort, 4000);
    EXPECT_EQ(back.Result, 1);

    // An 11-byte reply is enough; a short one or one whose MsgLen disagrees is dropped.
    EXPECT_TRUE(DecodeP2PLoginReply("\x0B\x00\x02\x00\x7F\x00\x00\x01\x00\x50\x01", 11, back));
    EXPECT_FALSE(DecodeP2PLoginReply("\x0A\x00\x02\x00\x7F\x00\x00\x01\x00\x50", 10, back));
    QByteArray wrongLen(20, '\0');
    wrongLen[0] = 24;
    wrongLen[2] = 2;
    EXPECT_FALSE(DecodeP2PLoginReply(wrongLen.constData(), 20, back));
}

TEST(XmlFile, ReadsOtherEncodingsAndSavesAtomically)
{
    TempAppRoot root;
    const QString path = root.File(QStringLiteral("Config/Any.xml"));
    // A UTF-8 file without a BOM reads as well.
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?><R><A>\xE9\xBB\x98\xE8\xAE\xA4</A></R>");
    }
    pugi::xml_document doc;
    ASSERT_EQ(XmlFile::Load(path, doc), XmlFile::TLoadResult::Loaded);
    EXPECT_EQ(XmlText(doc.document_element().child("A")), QStringLiteral("默认"));
    EXPECT_EQ(XmlFile::Load(path + "x", doc), XmlFile::TLoadResult::Missing);

    XmlFile::Save(path, doc);
    const QByteArray bytes = ReadFileBytes(path);
    EXPECT_TRUE(bytes.startsWith("\xFF\xFE<\0?\0x\0m\0l\0"));
    EXPECT_TRUE(ReadUtf16File(path).contains(QStringLiteral("encoding=\"UTF-16\"")));
    EXPECT_EQ(QDir(root.File(QStringLiteral("Config"))).entryList(QDir::Files), QStringList({"Any.xml"}));

    // A save that cannot be written raises and leaves nothing behind.
    EXPECT_THROW(XmlFile::Save(root.File(QStringLiteral("NoSuchFolder/A.xml")), doc), Exception);
    EXPECT_TRUE(QDir(root.File(QStringLiteral("Config"))).entryList(QDir::Files).size() == 1);
}
