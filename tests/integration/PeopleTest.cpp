// The directory against the test server: another user's changes reach every
// list, the own account's requests and their answers, face and photo uploads
// and downloads.
#include "SessionFixture.h"
#include "TestPeople.h"
#include "core/Client_CurrentUserRequests.h"
#include "core/Client_PersonDownloads.h"
#include "data/Client_Managers.h"
#include "data/Client_FaceDownload.h"
#include "data/DataLayer.h"
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonObject>

namespace pelvox::test {
namespace {

QString DemoFixture()
{
    return QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../../testserver/fixtures/demo.json"));
}

// Every "Client:*" event of interest as "Name:param1:param2", in order.
class TPeopleEvents {
public:
    TPeopleEvents()
    {
        for (const char* n :
             {"OnOtherUserLogin", "OnOtherUserLogout", "OnOtherUserLoginStatusChanged", "OnOtherUserInfoChanged",
              "OnOtherUserSignatureChanged", "OnOtherUserFaceChanged", "OnOtherUserPhotoChanged", "OnChangeSignature",
              "OnChangeUserInfo", "OnChangePassword", "OnChangeLinkDepart", "OnGetPwdProtection", "OnSetPwdProtection",
              "OnValidatePwdProtection", "OnChangeFaceFileFailed", "OnChangePhotoFileFailed", "OnChangeLoginStatus"}) {
            const QString name = QLatin1String(n);
            FSubs.push_back(std::make_unique<TBindingEvent>(QStringLiteral("Client:") + name, [this, name](TBindingEvent& e) {
                FLog.push_back(QStringLiteral("%1:%2:%3").arg(name).arg(e.EventParam1()).arg(e.EventParam2()));
            }));
        }
    }
    int Count(const QString& entry) const { return int(FLog.count(entry)); }
    bool Has(const QString& entry) const { return FLog.contains(entry); }
    QStringList FLog;

private:
    std::vector<std::unique_ptr<TBindingEvent>> FSubs;
};

class PeopleTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        InstallDataLayer();
        QString error;
        auto dir = testserver::TDirectoryFixture::Load(DemoFixture(), &error);
        ASSERT_TRUE(dir) << error.toStdString();
        Service = std::make_unique<testserver::TLoginService>(Server, dir);
        Service->Install();
        People = testserver::InstallPeopleService(Server, *Service, DemoFixture());
    }
    void TearDown() override
    {
        SessionTest::TearDown();
        ClearManagerFactories();
        SetPersonDownloads(nullptr);
        SetPersonDirectory(nullptr);
    }

    // The fixture's pictures are already on disk, so the login fetches none
    // and every download the test sees is one it caused.
    void SignInDemo()
    {
        const QDir faces = QFileInfo(DemoFixture()).dir().filePath(QStringLiteral("faces"));
        for (const char* sub : {"Temp/Faces", "Temp/Photos"}) {
            QDir(Root.Path()).mkpath(QLatin1String(sub));
            for (const QString& f : faces.entryList(QDir::Files))
                QFile::copy(faces.filePath(f), Root.Path() + QLatin1String(sub) + QLatin1Char('/') + f);
        }
        ASSERT_TRUE(SignIn(QStringLiteral("demo"), QStringLiteral("pelvox")));
    }
    // Runs a change and waits for its event and its effect.
    bool Step(const std::function<void()>& AAct, const QString& AEvent, const std::function<bool()>& AEffect)
    {
        Ev.FLog.clear();
        AAct();
        return RunLoopUntil([&] { return Ev.Has(AEvent) && AEffect(); });
    }
    bool Wait(const QString& entry) { return RunLoopUntil([&] { return Ev.Has(entry); }); }
    TContact* Contact(int32_t id) { return ContactManager()->FindContactById(id, true); }
    TDepartNode* Colleague(int32_t id) { return DepartmentManager()->FindDepartUser(QString::number(id)); }
    size_t SubCmdRequests(const QString& name) const
    {
        return Server.CountPackets([&](const TLoggedPacket& p) { return p.Port == TPortKind::SubCmd && p.DocName == name; });
    }

    std::unique_ptr<testserver::TPeopleService> People;
    TPeopleEvents Ev;
};

constexpr int32_t Lina = 10002; // a contact of "demo" (group 0) and a colleague (market department)

TEST_F(PeopleTest, AnotherUsersChangesReachEveryList)
{
    SignInDemo();
    ASSERT_NE(Contact(Lina), nullptr);
    ASSERT_NE(Colleague(Lina), nullptr);
    TContactGroup* group = ContactManager()->GetMyContactsGroup();
    TDepartNode* market = DepartmentManager()->FindDepartNode(3);
    ASSERT_TRUE(group && market);
    const int groupOnline = group->OnlineCount(), marketOnline = market->OnlineCount();
    const auto both = [&](auto&& pred) { return pred(*Contact(Lina)) && pred(*Colleague(Lina)); };

    ASSERT_TRUE(Step([&] { People->SignIn(Lina, 1); }, QStringLiteral("OnOtherUserLogin:10002:0"),
                     [&] { return both([](const TOtherUser& u) { return u.LoginStatus() == lsOnline; }); }));
    EXPECT_EQ(group->OnlineCount(), groupOnline + 1);
    EXPECT_EQ(market->OnlineCount(), marketOnline + 1);

    ASSERT_TRUE(Step([&] { People->ChangeStatus(Lina, int16_t(lsBusy)); }, QStringLiteral("OnOtherUserLoginStatusChanged:10002:0"),
                     [&] { return both([](const TOtherUser& u) { return u.LoginStatus() == lsBusy; }); }));
    EXPECT_EQ(market->OnlineCount(), marketOnline + 1);

    ASSERT_TRUE(Step([&] { People->ChangeSignature(Lina, QStringLiteral("新的签名")); },
                     QStringLiteral("OnOtherUserSignatureChanged:10002:0"),
                     [&] { return both([](const TOtherUser& u) { return u.Signature() == QStringLiteral("新的签名"); }); }));

    ASSERT_TRUE(Step(
        [&] {
            People->ChangeProfile(Lina, QJsonObject{{QStringLiteral("nickname"), QStringLiteral("娜娜")},
                                                    {QStringLiteral("mobile"), QStringLiteral("13900000000")},
                                                    {QStringLiteral("age"), 30}});
        },
        QStringLiteral("OnOtherUserInfoChanged:10002:0"), [&] {
            return both([](const TOtherUser& u) {
                return u.NickName() == QStringLiteral("娜娜") && u.Mobile() == QStringLiteral("13900000000") && u.Age() == 30;
            });
        }));

    // A new face is fetched once and shown in both lists.
    QFile gif(QFileInfo(DemoFixture()).dir().filePath(QStringLiteral("faces/blink.gif")));
    ASSERT_TRUE(gif.open(QIODevice::ReadOnly));
    const QByteArray face = gif.readAll();
    QString faceName;
    ASSERT_TRUE(Step([&] { faceName = People->ChangeFace(Lina, face, QStringLiteral("gif")); },
                     QStringLiteral("OnOtherUserFaceChanged:10002:0"),
                     [&] { return both([&](const TOtherUser& u) { return u.FaceFile() == faceName && u.FaceImageIsGif(); }); }));
    QFile local(Contact(Lina)->GetLocalFaceFile());
    ASSERT_TRUE(local.open(QIODevice::ReadOnly));
    EXPECT_EQ(local.readAll(), face);

    QString photoName;
    ASSERT_TRUE(Step([&] { photoName = People->ChangePhoto(Lina, QByteArray("photo bytes"), QStringLiteral("jpg")); },
                     QStringLiteral("OnOtherUserPhotoChanged:10002:0"),
                     [&] { return both([&](const TOtherUser& u) { return u.PhotoFile() == photoName; }); }));
    EXPECT_TRUE(QFileInfo::exists(Contact(Lina)->GetLocalPhotoFile()));
    // By the photo's arrival the face had every chance to be fetched again.
    EXPECT_EQ(People->DownloadCount(true, faceName), 1);
    EXPECT_EQ(Ev.Count(QStringLiteral("OnOtherUserFaceChanged:10002:0")), 0);

    ASSERT_TRUE(Step([&] { People->SignOut(Lina); }, QStringLiteral("OnOtherUserLogout:10002:0"),
                     [&] { return both([](const TOtherUser& u) { return u.LoginStatus() == lsOffline; }); }));
    EXPECT_EQ(group->OnlineCount(), groupOnline);
    EXPECT_EQ(market->OnlineCount(), marketOnline);
}

TEST_F(PeopleTest, OwnAccountRequestsAndAnswers)
{
    SignInDemo();
    TCurrentUser& me = Client->CurrentUser();
    const QString question60 = QStringLiteral(" ") + QString(59, QLatin1Char('q'));
    TUserInfoChangeItems info;
    info.NickName = QStringLiteral("  ABCDEFGHIJKLMNOPQRSTUVWXY  ");
    info.Signature = QStringLiteral(" 签名 ");
    info.Sex = 2;
    info.Age = 33;
    info.Homepage = QString(90, QLatin1Char('h'));

    struct Step {
        const char* Name;
        std::function<void()> Act;
        QString Event; // empty: wait for Check only
        std::function<bool()> Check;
    };
    const std::vector<Step> steps = {
        {"signature trimmed", [&] { me.ChangeSignature(QStringLiteral("  你好  ")); }, QStringLiteral("OnChangeSignature:0:0"),
         [&] { return me.Signature() == QStringLiteral("你好"); }},
        {"profile trimmed and cut", [&] { me.ChangeUserInfo(info); }, QStringLiteral("OnChangeUserInfo:0:0"),
         [&] {
             return me.NickName() == QStringLiteral("ABCDEFGHIJKLMNOPQRST") && me.Signature() == QStringLiteral("签名") &&
                    me.Sex() == usWomen && me.Age() == 33 && me.Homepage() == QString(80, QLatin1Char('h'));
         }},
        {"wrong old password", [&] { me.ChangePassword(PasswordDigest(QStringLiteral("nope")), PasswordDigest(QStringLiteral("new")), QStringLiteral("new")); },
         QStringLiteral("OnChangePassword:2:0"), [&] { return me.TempNewPassword() == PasswordDigest(QStringLiteral("new")); }},
        {"password", [&] { me.ChangePassword(PasswordDigest(QStringLiteral("pelvox")), PasswordDigest(QStringLiteral("n2")), QStringLiteral("n2")); },
         QStringLiteral("OnChangePassword:0:0"), [&] { return me.TempNewPassword() == PasswordDigest(QStringLiteral("n2")); }},
        {"linked department", [&] { me.ChangeLinkDepart(3); }, QStringLiteral("OnChangeLinkDepart:3:0"),
         [&] { return me.LinkDepartId() == 3; }},
        {"join setting cut, blanks kept", [&] { me.UpdateJoinSetting(1, int16_t(jmsNeedAnswer), question60, QStringLiteral(" a ")); }, {},
         [&] {
             return me.OnlyFindMeById() && me.JoinSetting() == jmsNeedAnswer && me.JoinQuestion() == question60.left(50) &&
                    me.JoinAnswer() == QStringLiteral(" a ");
         }},
        {"no protection yet", [&] { me.GetPwdProtection(); }, QStringLiteral("OnGetPwdProtection:0:0"),
         [&] { return !me.IsSetPwdProtection(); }},
        {"set protection", [&] { me.SetPwdProtection(QStringLiteral("q1"), QStringLiteral("a1"), QStringLiteral("q2"), QStringLiteral("a2"), QStringLiteral("q3"), QStringLiteral("a3")); },
         QStringLiteral("OnSetPwdProtection:0:0"), [] { return true; }},
        {"read protection", [&] { me.GetPwdProtection(); }, {},
         [&] { return me.IsSetPwdProtection() && me.PwdProtection_Question3() == QStringLiteral("q3"); }},
        {"wrong answers", [&] { me.ValidatePwdProtection(QStringLiteral("a1"), QStringLiteral("x"), QStringLiteral("a3")); },
         QStringLiteral("OnValidatePwdProtection:1:0"), [] { return true; }},
        {"right answers", [&] { me.ValidatePwdProtection(QStringLiteral("a1"), QStringLiteral("a2"), QStringLiteral("a3")); },
         QStringLiteral("OnValidatePwdProtection:0:0"), [] { return true; }},
        {"status", [&] { me.ChangeLoginStatus(lsBusy); }, QStringLiteral("OnChangeLoginStatus:0:0"),
         [&] { return People->Status(10001) == lsBusy && me.LoginStatus() == lsBusy; }},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.Name);
        Ev.FLog.clear();
        s.Act();
        if (!s.Event.isEmpty()) {
            ASSERT_TRUE(Wait(s.Event)) << Ev.FLog.join(QLatin1Char(' ')).toStdString();
        }
        EXPECT_TRUE(RunLoopUntil(s.Check));
    }
    // The server took what the client sent.
    EXPECT_EQ(People->User(10001).value(QStringLiteral("nickname")).toString(), QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
}

TEST_F(PeopleTest, FaceUploadLimitAndOutcome)
{
    SignInDemo();
    TCurrentUser& me = Client->CurrentUser();
    const QString dir = Root.Path();
    const auto write = [&](const QString& name, qsizetype size) {
        QFile f(dir + name);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(size, 'f'));
        return dir + name;
    };
    const QString fits = write(QStringLiteral("fits.png"), MAX_FACE_FILE_SIZE);
    const QString tooLarge = write(QStringLiteral("large.png"), MAX_FACE_FILE_SIZE + 1);

    me.ChangeFaceFile(tooLarge);
    EXPECT_TRUE(Ev.Has(QStringLiteral("OnChangeFaceFileFailed:%1:0").arg(ufrTooLarge)));
    me.ChangeFaceFile(dir + QStringLiteral("missing.png"));
    EXPECT_TRUE(Ev.Has(QStringLiteral("OnChangeFaceFileFailed:%1:0").arg(ufrFileMissing)));
    me.ChangePhotoFile(write(QStringLiteral("photo.jpg"), MAX_PHOTO_FILE_SIZE + 1));
    EXPECT_TRUE(Ev.Has(QStringLiteral("OnChangePhotoFileFailed:%1:0").arg(ufrTooLarge)));
    EXPECT_EQ(SubCmdRequests(QStringLiteral("Users.ChangeFaceFile")), 0u);

    ASSERT_TRUE(Step([&] { me.ChangeFaceFile(fits); }, QStringLiteral("OnOtherUserFaceChanged:10001:0"),
                     [&] { return me.FaceFile() != QStringLiteral("demo.png"); }));
    EXPECT_EQ(SubCmdRequests(QStringLiteral("Users.ChangeFaceFile")), 1u);
    const QString serverName = People->User(10001).value(QStringLiteral("facefile")).toString();
    EXPECT_EQ(me.FaceFile(), serverName);
    EXPECT_EQ(People->StoredFile(true, serverName).size(), MAX_FACE_FILE_SIZE);
    QFile local(me.GetLocalFaceFile());
    ASSERT_TRUE(local.open(QIODevice::ReadOnly));
    EXPECT_EQ(local.size(), MAX_FACE_FILE_SIZE);
    RunLoopUntil([&] { return !me.UploadRunning(); });

    // A refusal by the server comes back as the failure event with its code.
    Server.RegisterHandler(TPortKind::SubCmd, QStringLiteral("Users.ChangePhotoFile"), [](const testserver::TRequest& r) {
        TBitDocument ack(QStringLiteral("Users.ChangePhotoFile[ACK]"));
        ack.Root()->AddInt32Node(QStringLiteral("errorcode"), 7);
        r.Answer(ack);
    });
    const QString before = me.PhotoFile();
    me.ChangePhotoFile(fits);
    ASSERT_TRUE(Wait(QStringLiteral("OnChangePhotoFileFailed:%1:7").arg(ufrRefused)));
    EXPECT_EQ(me.PhotoFile(), before);
}

TEST_F(PeopleTest, HostileFaceNamesStayInTheFacesFolder)
{
    SignInDemo();
    People->SignIn(Lina, 1);
    ASSERT_TRUE(Wait(QStringLiteral("OnOtherUserLogin:10002:0")));
    const int conn = Service->ConnectionOf(10001);
    const QString names[] = {QStringLiteral("../x.png"), QStringLiteral("/etc/x"), QStringLiteral("a\\b.png")};
    for (const QString& name : names) {
        TBitDocument push(QStringLiteral("Server:OtherUserFaceChanged"));
        push.Root()->AddInt32Node(QStringLiteral("userid"), Lina);
        push.Root()->AddStringNode(QStringLiteral("facefile"), name);
        ASSERT_TRUE(Server.SendDocument(conn, push));
    }
    // A good name afterwards: once it arrived, the bad ones were handled.
    const QString good = People->ChangeFace(Lina, QByteArray("face"), QStringLiteral("png"));
    ASSERT_TRUE(Wait(QStringLiteral("OnOtherUserFaceChanged:10002:0")));
    EXPECT_EQ(People->DownloadCount(true, good), 1);
    for (const QString& name : names) EXPECT_EQ(People->DownloadCount(true, name), 0) << name.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Root.Path() + QStringLiteral("Temp/x.png")));
    EXPECT_FALSE(QFileInfo::exists(Root.Path() + QStringLiteral("Temp/Faces/a\\b.png")));
    EXPECT_FALSE(QFileInfo::exists(Root.Path() + QStringLiteral("Temp/Faces/b.png")));
}

TEST_F(PeopleTest, LoginAnswerCarriesTheOthersPresence)
{
    People->SignIn(Lina, int16_t(lsBusy)); // nobody to tell yet
    SignInDemo();
    EXPECT_EQ(Contact(Lina)->LoginStatus(), lsBusy);
    EXPECT_EQ(Colleague(Lina)->LoginStatus(), lsBusy);
    EXPECT_EQ(Colleague(10003)->LoginStatus(), lsOffline);
    // The signed-in client itself counts as online for whoever asks next.
    EXPECT_EQ(People->Status(10001), lsOnline);
}

TEST(DemoFixtureFaces, DecodeAndOneIsAnimated)
{
    const QDir faces = QFileInfo(DemoFixture()).dir().filePath(QStringLiteral("faces"));
    const QStringList files = faces.entryList(QDir::Files);
    ASSERT_GE(files.size(), 5);
    int animated = 0;
    for (const QString& f : files) {
        QImageReader r(faces.filePath(f));
        const QImage first = r.read();
        EXPECT_FALSE(first.isNull()) << f.toStdString() << " " << r.errorString().toStdString();
        EXPECT_EQ(first.size(), QSize(40, 40));
        if (r.supportsAnimation() && r.imageCount() > 1) ++animated;
    }
    EXPECT_EQ(animated, 1);
}

} // namespace
} // namespace pelvox::test

namespace pelvox::test {
namespace {

class DownloadThreadTest : public PeopleTest {
protected:
    TPersonDownloads& Downloads() { return *dynamic_cast<TPersonDownloads*>(PersonDownloads()); }
};

TEST_F(DownloadThreadTest, UnwritableFileIsTriedThreeTimesAndNeverReported)
{
    SignInDemo();
    // A folder where the file should go: the write fails every time.
    const QString target = Root.Path() + QStringLiteral("Temp/Faces/zhangmin.png");
    ASSERT_TRUE(QFile::remove(target));
    ASSERT_TRUE(QDir().mkpath(target));
    Ev.FLog.clear();
    Downloads().DownloadFaceFile(10004, QStringLiteral("zhangmin.png"));
    ASSERT_TRUE(RunLoopUntil([&] { return People->DownloadCount(true, QStringLiteral("zhangmin.png")) == 3; }));
    // A later task on the same thread: once it is done, the failed one is gone for good.
    ASSERT_TRUE(Step([&] { Downloads().DownloadFaceFile(10005, QStringLiteral("liuyang.png")); },
                     QStringLiteral("OnOtherUserFaceChanged:10005:0"), [] { return true; }));
    EXPECT_EQ(People->DownloadCount(true, QStringLiteral("zhangmin.png")), 3);
    EXPECT_FALSE(Ev.Has(QStringLiteral("OnOtherUserFaceChanged:10004:0")));
}

TEST_F(DownloadThreadTest, NewerFaceReplacesTheQueuedOne)
{
    SignInDemo();
    // The first download is held at the server while two names for another user queue up.
    Server.SetAnswerRule(QStringLiteral("Users.DownloadFaceFile"), {std::chrono::milliseconds(300), false});
    Downloads().DownloadFaceFile(10005, QStringLiteral("liuyang.png"));
    ASSERT_TRUE(RunLoopUntil([&] { return People->DownloadCount(true, QStringLiteral("liuyang.png")) == 1; }));
    Downloads().DownloadFaceFile(10004, QStringLiteral("demo.png"));
    Downloads().DownloadFaceFile(10004, QStringLiteral("zhangmin.png"));
    Server.ClearAnswerRules();
    ASSERT_TRUE(Wait(QStringLiteral("OnOtherUserFaceChanged:10004:0")));
    EXPECT_EQ(People->DownloadCount(true, QStringLiteral("zhangmin.png")), 1);
    EXPECT_EQ(People->DownloadCount(true, QStringLiteral("demo.png")), 0);
}

TEST_F(DownloadThreadTest, DelayedEntriesMergeAndOneTickServesBoth)
{
    SignInDemo();
    Client->StopDelayDownTimer(); // the test drives the ticks
    Downloads().ClearDelayList();
    Downloads().DelayDown(10004, true, {}, {});
    Downloads().DelayDown(10004, false, QStringLiteral("zhangmin.png"), {});
    EXPECT_EQ(Downloads().DelayCount(), 1u);
    const size_t infoBefore = Sent(QStringLiteral("Users.GetUserInfo")).size();
    Downloads().OnDelayDownTimer();
    EXPECT_EQ(Downloads().DelayCount(), 0u);
    ASSERT_TRUE(RunLoopUntil([&] {
        return Sent(QStringLiteral("Users.GetUserInfo")).size() == infoBefore + 1 &&
               People->DownloadCount(true, QStringLiteral("zhangmin.png")) == 1;
    }));
}

} // namespace
} // namespace pelvox::test
