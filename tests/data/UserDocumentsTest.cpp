#include "DataTestSupport.h"
#include "core/BitDocument.h"
#include "core/Client_BindingEvents.h"
#include "core/Client_GlobalClient.h"
#include "data/Client_Managers.h"
#include "data/DataLayer.h"
#include <QFile>
#include <gtest/gtest.h>

using namespace pelvox;

namespace {

// A session with the data layer whose managers hold colleague 1001 (in two
// departments) and contact 1001 and 1002 (1002 on the black list).
struct SessionFixture {
    test::DataRoot Root;
    std::unique_ptr<TGlobalClient> Client;
    std::vector<std::tuple<QString, uintptr_t, uintptr_t>> Events;
    std::vector<std::unique_ptr<TBindingEvent>> Subs;

    SessionFixture()
    {
        InstallDataLayer();
        Client = std::make_unique<TGlobalClient>();
        TBitDocument answer;
        test::AddDepartments(answer, {{1, "A", 0}, {2, "B", 1}},
                             {{1001, "wang", 1, "A", 0}, {1001, "wang", 2, "B", 0}, {1003, "li", 2, "B", 1}});
        TBitNode* groups = answer.Root()->AddDirectoryNode("contactgroups");
        auto group = [&](int32_t id, int32_t contact, const char* name, int remind) {
            TBitNode* g = groups->AddDirectoryNode(QString::number(id));
            g->AddInt32Node("$1", id);
            TBitNode* c = g->AddDirectoryNode("contacts")->AddDirectoryNode("0");
            c->AddInt32Node("$1", contact);
            c->AddInt16Node("$6", int16_t(remind));
            c->AddStringNode("$8", QString::fromLatin1(name));
        };
        group(0, 1001, "wang", 1);
        group(2, 1002, "zhao", 1);
        DepartmentManager()->InitWhenLoginSuccess(answer);
        ContactManager()->InitWhenLoginSuccess(answer);
        for (const char* name : {"Client:OnOtherUserLogin", "Client:OnOtherUserLogout",
                                 "Client:OnOtherUserLoginStatusChanged", "Client:OnOtherUserInfoChanged",
                                 "Client:OnOtherUserSignatureChanged", "Client:OnRemindMeWhenLogin",
                                 "Client:OnChangeUserInfo"}) {
            const QString n = QString::fromLatin1(name);
            Subs.push_back(std::make_unique<TBindingEvent>(n, [this, n](TBindingEvent& e) {
                Events.emplace_back(n, e.EventParam1(), e.EventParam2());
            }));
        }
    }
    ~SessionFixture() { Client.reset(); }

    void Push(const QString& name, const std::function<void(TBitNode&)>& fill)
    {
        TBitDocument doc(name);
        fill(*doc.Root());
        RaiseEvent(name, uintptr_t(&doc), 0);
    }
    TContact* Contact(int32_t id) { return ContactManager()->FindContactById(id, true); }
};

} // namespace

TEST(UserDocuments, PresencePushesReachEveryList)
{
    SessionFixture f;
    TDepartmentManager& deps = *DepartmentManager();
    struct Step {
        const char* Doc;
        int32_t User;
        int Wire;
        TLoginStatus Expect;
        const char* Event; // null: ignored
    };
    const Step steps[] = {
        {"Server:OtherUserLogin", 1001, 1, lsOnline, "Client:OnOtherUserLogin"},
        {"Server:OtherUserLoginStatusChanged", 1001, 3, lsBusy, "Client:OnOtherUserLoginStatusChanged"},
        {"Server:OtherUserLoginStatusChanged", 1001, 9, lsBusy, nullptr},
        {"Server:OtherUserLogin", 1001, 9, lsOnline, "Client:OnOtherUserLogin"},
        {"Server:OtherUserLogout", 1001, 0, lsOffline, "Client:OnOtherUserLogout"},
        {"Server:OtherUserLogin", 1001, 5, lsHide, "Client:OnOtherUserLogin"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.Doc);
        f.Events.clear();
        f.Push(QString::fromLatin1(s.Doc), [&](TBitNode& r) {
            r.AddInt32Node("userid", s.User);
            r.AddInt16Node("loginstatus", int16_t(s.Wire));
        });
        EXPECT_EQ(f.Contact(s.User)->LoginStatus(), s.Expect);
        for (TDepartNode* n : deps.DepartUsersOf(s.User)) EXPECT_EQ(n->LoginStatus(), s.Expect);
        const int online = IsOnlineStatus(s.Expect) ? 1 : 0;
        EXPECT_EQ(deps.FindDepartNode(1)->OnlineCount(), 2 * online + 1);
        EXPECT_EQ(deps.FindDepartNode(2)->OnlineCount(), online + 1);
        EXPECT_EQ(ContactManager()->GetMyContactsGroup()->OnlineCount(), online);
        std::vector<QString> names;
        for (auto& e : f.Events)
            if (std::get<0>(e) != "Client:OnRemindMeWhenLogin") names.push_back(std::get<0>(e));
        if (s.Event) {
            ASSERT_EQ(names.size(), 1u);
            EXPECT_EQ(names[0], QString::fromLatin1(s.Event));
        } else {
            EXPECT_TRUE(names.empty());
        }
    }
}

TEST(UserDocuments, RemindOnlyForOrdinaryContacts)
{
    SessionFixture f;
    auto login = [&](int32_t id, int status) {
        f.Events.clear();
        f.Push("Server:OtherUserLogin", [&](TBitNode& r) {
            r.AddInt32Node("userid", id);
            r.AddInt16Node("loginstatus", int16_t(status));
        });
        return std::count_if(f.Events.begin(), f.Events.end(),
                             [](auto& e) { return std::get<0>(e) == "Client:OnRemindMeWhenLogin"; });
    };
    EXPECT_EQ(login(1001, 1), 1);
    EXPECT_EQ(login(1002, 1), 0); // black list: shown online, no reminder
    EXPECT_EQ(f.Contact(1002)->LoginStatus(), lsOnline);
    EXPECT_EQ(login(1001, 5), 0); // hidden
}

TEST(UserDocuments, ProfileSignatureAndFacePushes)
{
    SessionFixture f;
    test::DownloadsGuard downloads;
    f.Push("Server:OtherUserSignatureChanged", [](TBitNode& r) {
        r.AddInt32Node("userid", 1001);
        r.AddStringNode("signature", "new words");
    });
    EXPECT_EQ(f.Contact(1001)->Signature(), QStringLiteral("new words"));
    for (TDepartNode* n : DepartmentManager()->DepartUsersOf(1001)) EXPECT_EQ(n->Signature(), "new words");

    f.Push("Server:OtherUserInfoChanged", [](TBitNode& r) {
        r.AddInt32Node("userid", 1001);
        TOtherUser v;
        v.SetNickName("Wang Wei");
        v.SetAge(33);
        TBitDocument tmp;
        v.WriteCacheDocument(tmp);
        // The push carries the 36 profile nodes: the cache's from "nickname" to "introduction".
        bool in = false;
        for (const TBitNode* n : tmp.Root()->ChildNodes()) {
            in = in || n->NodeName() == "nickname";
            if (!in) continue;
            if (n->NodeName() == "facefile") break;
            QByteArray value(n->DataSize(), '\0');
            n->ReadValue(value.data());
            r.AddNode(n->NodeType(), n->NodeName())->WriteValue(value.constData(), int32_t(value.size()));
        }
    });
    EXPECT_EQ(f.Contact(1001)->NickName(), QStringLiteral("Wang Wei"));
    EXPECT_EQ(f.Contact(1001)->Age(), 33);
    for (TDepartNode* n : DepartmentManager()->DepartUsersOf(1001)) EXPECT_EQ(n->NickName(), "Wang Wei");
    EXPECT_EQ(std::get<0>(f.Events.back()), QStringLiteral("Client:OnOtherUserInfoChanged"));
    EXPECT_EQ(std::get<1>(f.Events.back()), 1001u);

    // A face already on disk: the name changes everywhere, nothing is fetched.
    QFile(f.Root.File("Temp/Faces/here.png")).open(QIODevice::WriteOnly);
    f.Push("Server:OtherUserFaceChanged", [](TBitNode& r) {
        r.AddInt32Node("userid", 1001);
        r.AddStringNode("facefile", "here.png");
    });
    EXPECT_EQ(f.Contact(1001)->FaceFile(), QStringLiteral("here.png"));
    for (TDepartNode* n : DepartmentManager()->DepartUsersOf(1001)) EXPECT_EQ(n->FaceFile(), "here.png");
    EXPECT_TRUE(downloads->Faces.empty());
    // A missing one is asked for once per record.
    f.Push("Server:OtherUserFaceChanged", [](TBitNode& r) {
        r.AddInt32Node("userid", 1001);
        r.AddStringNode("facefile", "new.png");
    });
    EXPECT_EQ(downloads->Faces.size(), 3u); // contact and two colleague nodes; the thread keeps one task
}

TEST(UserDocuments, PwdProtectionAndValidateAnswers)
{
    SessionFixture f;
    std::vector<uintptr_t> validate;
    int got = 0;
    TBindingEvent v("Client:OnValidatePwdProtection", [&](TBindingEvent& e) { validate.push_back(e.EventParam1()); });
    TBindingEvent g("Client:OnGetPwdProtection", [&](TBindingEvent&) { ++got; });
    TCurrentUser& me = f.Client->CurrentUser();
    f.Push("Users.GetPwdProtection[ACK]", [](TBitNode& r) {
        r.AddInt32Node("errorcode", 0);
        for (const char* q : {"question1", "question2", "question3"}) r.AddStringNode(q, QString::fromLatin1(q));
    });
    EXPECT_TRUE(me.IsSetPwdProtection());
    EXPECT_EQ(me.PwdProtection_Question2(), QStringLiteral("question2"));
    f.Push("Users.GetPwdProtection[ACK]", [](TBitNode& r) { r.AddInt32Node("errorcode", 5); });
    EXPECT_FALSE(me.IsSetPwdProtection());
    EXPECT_TRUE(me.PwdProtection_Question1().isEmpty());
    EXPECT_EQ(got, 2);
    f.Push("Users.ValidatePwdProtection[ACK]", [](TBitNode& r) { r.AddInt32Node("errorcode", 3); });
    f.Push("Users.ValidatePwdProtection[ACK]", [](TBitNode& r) { r.AddInt32Node("errorcode", 0); });
    EXPECT_EQ(validate, (std::vector<uintptr_t>{1, 0}));
}
