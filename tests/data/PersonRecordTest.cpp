#include "DataTestSupport.h"
#include "TestSupport.h"
#include "core/BitDocument.h"
#include "data/Client_Common.h"
#include "data/Client_FaceImage.h"
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace pelvox;

TEST(PersonRecord, ShowNameAndStatusTexts)
{
    TOtherUser u;
    u.SetNickName(QStringLiteral("Li"));
    u.SetUserName(QStringLiteral("lee"));
    EXPECT_EQ(u.GetShowName(true), QStringLiteral("Li(lee)"));
    EXPECT_EQ(u.GetShowName(false), QStringLiteral("Li"));
    EXPECT_EQ(StrToLoginStatus(QStringLiteral("busy")), lsBusy);
    EXPECT_EQ(StrToLoginStatus(QStringLiteral("away")), lsOffline);
    EXPECT_EQ(LoginStatusToStr(lsHide), QStringLiteral("Hide"));
}

TEST(PersonRecord, WireValuesOutOfRangeMapToSafeDefaults)
{
    struct Case {
        int64_t Wire;
        TLoginStatus Status;
        TUserSex Sex;
        TJoinMeSetting Join;
    };
    const Case cases[] = {
        {0, lsOffline, usNone, jmsAllowAll},  {1, lsOnline, usMan, jmsNotAllow},
        {3, lsBusy, usSecret, jmsNeedAnswer}, {5, lsHide, usNone, jmsNeedConfirm},
        {6, lsOffline, usNone, jmsNeedConfirm}, {255, lsOffline, usNone, jmsNeedConfirm},
        {-1, lsOffline, usNone, jmsNeedConfirm},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Wire);
        EXPECT_EQ(LoginStatusFromWire(c.Wire), c.Status);
        EXPECT_EQ(SexFromWire(int32_t(c.Wire)), c.Sex);
        EXPECT_EQ(JoinSettingFromWire(c.Wire), c.Join);
    }
    EXPECT_TRUE(IsOnlineStatus(lsQuiet));
    EXPECT_FALSE(IsOnlineStatus(lsHide));
}

TEST(PersonRecord, SwapBytePairsKeepsOddLastByte)
{
    char b[] = {'a', 'b', 'c', 'd', 'e'};
    SwapBytePairs(b, 5);
    EXPECT_EQ(QByteArray(b, 5), QByteArray("badce"));
}

TEST(PersonRecord, CacheDocumentMatchesGolden)
{
    test::DataRoot root;
    TOtherUser u;
    u.SetUserId(1001);
    u.SetUserName(QStringLiteral("zhang.wei"));
    u.SetUserType(2);
    u.SetNickName(QStringLiteral("张伟"));
    u.SetSex(usWomen);
    u.SetAge(70000);
    u.SetDepartId(42);
    u.SetEmail(QStringLiteral("zw@example.com"));
    u.SetFaceFile(QStringLiteral("f.png"));
    u.SetLoginStatus(lsBusy);
    u.SetModifyTime(45000.5);
    u.SaveToCache();

    // The file is named after the MD5 of the characters "1001".
    const QString path = root.File(QStringLiteral("Temp/Users/b8c37e33defde51cf91e1e03e51657da.cache"));
    ASSERT_TRUE(QFile::exists(path));
    TBitDocument doc;
    doc.LoadFromFile(path);
    EXPECT_EQ(doc.Name(), QString());

    // Golden layout: 43 nodes in order, with their types.
    const std::vector<std::pair<QString, TBitNodeType>> golden = [] {
        std::vector<std::pair<QString, TBitNodeType>> g = {
            {"userid", bntInt32}, {"username", bntString}, {"usertype", bntInt16}, {"nickname", bntString},
            {"signature", bntString}, {"actualname", bntString}, {"sex", bntInt16}};
        for (const char* n : {"age", "birth_year", "birth_month", "birth_day", "country", "province", "city", "area"})
            g.push_back({n, bntInt16});
        for (const char* n : {"address", "telephone", "telephone_short", "telephone2", "telephone2_short", "mobile",
                              "mobile_short", "mobile2", "mobile2_short", "fax", "qq", "weixin", "weibo", "email",
                              "roomname", "roomnumber", "idnumber", "carnumber", "homepage"})
            g.push_back({n, bntString});
        g.push_back({"departid", bntInt32});
        for (const char* n : {"departname", "jobtitle", "jobnumber", "introduction", "facefile", "photofile"})
            g.push_back({n, bntString});
        g.push_back({"loginstatus", bntInt16});
        g.push_back({"modifytime", bntFloat64});
        return g;
    }();
    const TBitNodeList& nodes = doc.Root()->ChildNodes();
    ASSERT_EQ(nodes.Count(), 43);
    for (int i = 0; i < 43; ++i) {
        SCOPED_TRACE(golden[size_t(i)].first.toStdString());
        EXPECT_EQ(nodes[i]->NodeName(), golden[size_t(i)].first);
        EXPECT_EQ(nodes[i]->NodeType(), golden[size_t(i)].second);
    }
    EXPECT_EQ(doc.ReadInt16(u"age"), int16_t(70000 & 0xFFFF));
    EXPECT_EQ(doc.ReadString(u"nickname"), QStringLiteral("张伟"));
    EXPECT_EQ(doc.ReadInt16(u"loginstatus"), 3);
    EXPECT_DOUBLE_EQ(doc.ReadFloat64(u"modifytime"), 45000.5);

    // Read back: the cached age is the low 16 bits, signed; user name not read.
    TOtherUser back;
    back.LoadFromCache(1001);
    EXPECT_EQ(back.Age(), int32_t(int16_t(70000 & 0xFFFF)));
    EXPECT_EQ(back.NickName(), QStringLiteral("张伟"));
    EXPECT_EQ(back.Sex(), usWomen);
    EXPECT_EQ(back.DepartId(), 42);
    EXPECT_EQ(back.LoginStatus(), lsBusy);
    EXPECT_EQ(back.UserName(), QString());
}

TEST(PersonRecord, CacheEdgeCases)
{
    test::DataRoot root;
    // A record with id 0 writes nothing.
    TOtherUser none;
    none.SaveToCache();
    EXPECT_TRUE(QDir(root.File("Temp/Users")).isEmpty());

    // A cache holding only a nickname (and a sex of 7) changes only those.
    TBitDocument doc;
    doc.Root()->AddStringNode(QStringLiteral("nickname"), QStringLiteral("Only"));
    doc.Root()->AddInt16Node(QStringLiteral("sex"), 7);
    doc.SaveToFile(OtherUserCacheFile(7));
    TOtherUser u;
    u.SetSignature(QStringLiteral("kept"));
    u.SetSex(usMan);
    u.LoadFromCache(7);
    EXPECT_EQ(u.NickName(), QStringLiteral("Only"));
    EXPECT_EQ(u.Signature(), QStringLiteral("kept"));
    EXPECT_EQ(u.Sex(), usNone);

    // A damaged cache is deleted and skipped.
    const QString bad = OtherUserCacheFile(8);
    {
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\x55\x55\x64garbage");
    }
    TOtherUser v;
    v.SetNickName(QStringLiteral("before"));
    EXPECT_NO_THROW(v.LoadFromCache(8));
    EXPECT_EQ(v.NickName(), QStringLiteral("before"));
    EXPECT_FALSE(QFile::exists(bad));
}

TEST(PersonRecord, UnsafeFaceNamesMeanNoFace)
{
    test::DataRoot root;
    test::FakeSession session;
    test::DownloadsGuard downloads;
    for (const char* name : {"../x.png", "/etc/x", "a\\b.png", "..", "a/b.png"}) {
        SCOPED_TRACE(name);
        auto u = std::make_shared<TOtherUser>();
        u->SetUserId(5);
        u->SetFaceFile(QString::fromLatin1(name));
        u->SetPhotoFile(QString::fromLatin1(name));
        EXPECT_TRUE(u->GetLocalFaceFile().isEmpty());
        EXPECT_FALSE(u->FaceFileLoss());
        u->TryDownloadFaceFile(true);
        u->TryDownloadPhotoFile(true);
        u->RebuildFaceImage();
        EXPECT_FALSE(u->FaceIamgeGetted());
    }
    EXPECT_TRUE(downloads->Faces.empty());
    EXPECT_TRUE(downloads->Photos.empty());
    // Nothing appeared outside the faces folder.
    EXPECT_FALSE(QFile::exists(root.File("Temp/x.png")));
    EXPECT_FALSE(QFile::exists(root.File("x.png")));
}

TEST(FacePictures, GreyFollowsTheFormula)
{
    QImage img(3, 1, QImage::Format_ARGB32);
    img.setPixel(0, 0, qRgb(255, 0, 0));
    img.setPixel(1, 0, qRgb(0, 255, 0));
    img.setPixel(2, 0, qRgb(10, 20, 200));
    BitmapToGray(img);
    EXPECT_EQ(img.format(), QImage::Format_RGB888);
    const int expected[] = {(77 * 255) >> 8, (151 * 255) >> 8, (77 * 10 + 151 * 20 + 28 * 200) >> 8};
    for (int x = 0; x < 3; ++x) {
        const QRgb p = img.pixel(x, 0);
        EXPECT_EQ(qRed(p), expected[x]);
        EXPECT_EQ(qGreen(p), expected[x]);
        EXPECT_EQ(qBlue(p), expected[x]);
    }
}

namespace {
QString WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}
} // namespace

TEST(FacePictures, GifFrameTiming)
{
    test::DataRoot root;
    WriteFile(root.File("Temp/Faces/anim.gif"),
              test::MakeGif(8, 8, {{Qt::red, 0}, {Qt::blue, 5}, {Qt::green, 30}}));
    auto u = std::make_shared<TOtherUser>();
    u->SetUserId(3);
    u->SetFaceFile(QStringLiteral("anim.gif"));
    u->RebuildFaceImage();
    ASSERT_TRUE(test::RunLoopUntil([&] { return u->FaceIamgeGetted(); }));
    ASSERT_TRUE(u->FaceImageIsGif());
    ASSERT_EQ(u->GifFrameCount(), 3u);
    EXPECT_EQ(u->ActiveFaceImage40x40().size(), QSize(40, 40));
    EXPECT_EQ(u->GrayFaceImage20x20().size(), QSize(20, 20));

    // Delays 0 and 5 are raised to 10: a frame moves on after 70 ms, not 69.
    // Settle the clock: a long wait moves on once and empties the wait.
    uint64_t t = TOtherUser::TickCount() + 1000000;
    EXPECT_TRUE(u->NextFaceImageFrame(t));
    u->ResetFaceImageFrame();
    const QRgb first = u->ActiveFaceImage20x20().pixel(10, 10);
    struct Step {
        uint64_t Advance;
        bool Moves;
        uint32_t Frame;
    };
    const Step steps[] = {{69, false, 0}, {1, true, 1}, {69, false, 1}, {1, true, 2},
                          {209, false, 2}, {1, true, 0}};
    for (const Step& s : steps) {
        t += s.Advance;
        EXPECT_EQ(u->NextFaceImageFrame(t), s.Moves);
        EXPECT_EQ(u->GifFrameIndex(), s.Frame);
    }
    u->NextFaceImageFrame(t + 70);
    EXPECT_EQ(u->GifFrameIndex(), 1u);
    EXPECT_NE(u->ActiveFaceImage20x20().pixel(10, 10), first);
    // Grey faces keep the first frame; a reset rewinds.
    u->ResetFaceImageFrame();
    EXPECT_EQ(u->GifFrameIndex(), 0u);
    EXPECT_EQ(u->ActiveFaceImage20x20().pixel(10, 10), first);
}

TEST(FacePictures, GifNameWithPngContentIsStill)
{
    test::DataRoot root;
    QImage png(10, 10, QImage::Format_ARGB32);
    png.fill(Qt::red);
    ASSERT_TRUE(png.save(root.File("Temp/Faces/still.GIF"), "PNG"));
    auto u = std::make_shared<TOtherUser>();
    u->SetFaceFile(QStringLiteral("still.GIF"));
    u->RebuildFaceImage();
    ASSERT_TRUE(test::RunLoopUntil([&] { return u->FaceIamgeGetted(); }));
    EXPECT_FALSE(u->FaceImageIsGif());
    EXPECT_FALSE(u->NextFaceImageFrame(u->TickCount() + 100000));
    const QRgb grey = u->GrayFaceImage40x40().pixel(20, 20);
    EXPECT_EQ(qRed(grey), (77 * 255) >> 8);
}

TEST(FacePictures, DefaultIconFollowsSexAndPresence)
{
    TOtherUser woman;
    woman.SetSex(usWomen);
    woman.SetLoginStatus(lsHide);
    const QImage icon = woman.CreateFaceIcon();
    EXPECT_EQ(icon.size(), QSize(16, 16));
    EXPECT_EQ(icon, DefaultSmallFace(true, true).scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .convertToFormat(QImage::Format_ARGB32));
    TOtherUser man;
    man.SetLoginStatus(lsOnline);
    EXPECT_NE(man.CreateFaceIcon(), icon);
}
