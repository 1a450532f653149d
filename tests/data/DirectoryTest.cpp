#include "DataTestSupport.h"
#include "core/BitDocument.h"
#include "core/Client_BindingEvents.h"
#include "data/Client_Contacts.h"
#include "data/Client_Departments.h"
#include <QFile>
#include <gtest/gtest.h>
#include <thread>
#include <random>

using namespace pelvox;
using test::DeptRow;
using test::UserRow;

namespace {

constexpr int64_t Big = (int64_t(1) << 32) + 5; // shares its low 32 bits with department 5

struct Tree {
    TDepartmentManager M;
    explicit Tree(const std::vector<DeptRow>& d, const std::vector<UserRow>& u)
    {
        TBitDocument doc(QStringLiteral("Users.Login[ACK]"));
        test::AddDepartments(doc, d, u);
        M.InitWhenLoginSuccess(doc);
    }
};

// Department order with names; colleagues as "@username".
QString Shape(const TDepartNodeList& list)
{
    QStringList parts;
    for (const auto& n : list) {
        if (n->IsColleague()) {
            parts << u'@' + n->UserName();
            continue;
        }
        const QString inner = Shape(n->ChildNodes());
        parts << (inner.isEmpty() ? n->NodeName() : n->NodeName() + u'{' + inner + u'}');
    }
    return parts.join(u',');
}

// The counts a department should have, counted from scratch.
void ExpectCountsMatchRecount(const TDepartNodeList& list)
{
    for (const auto& n : list) {
        if (!n->IsDepartment() || n->ChildNodes().Count() == 0) continue;
        int users = 0, online = 0;
        std::vector<const TDepartNode*> stack{n.get()};
        while (!stack.empty()) {
            const TDepartNode* x = stack.back();
            stack.pop_back();
            for (const auto& c : x->ChildNodes()) {
                if (c->IsColleague()) {
                    ++users;
                    online += c->IsOnline();
                } else {
                    stack.push_back(c.get());
                }
            }
        }
        ASSERT_EQ(n->ChildUserCount(), users) << n->NodeName().toStdString();
        ASSERT_EQ(n->OnlineCount(), online) << n->NodeName().toStdString();
        ExpectCountsMatchRecount(n->ChildNodes());
    }
}

const std::vector<DeptRow> kDepts = {
    {2, "B", 1},          // child listed before its parent
    {1, "A", 0},
    {3, "C", 0},
    {9, "Orphan", 77},    // parent never exists
    {5, "Five", 3},
    {Big, "Big", 0},
    {6, "UnderBig", Big}, // must not land under department 5
    {2147483648LL, "High", 1},
};
const std::vector<UserRow> kUsers = {
    {1001, "u1001", 2, "B", 1},
    {1002, "u1002", 2, "B-East", 0},
    {1003, "u1003", 5, "Five", 3},
    {1001, "u1001", 5, "Five", 1},   // the same colleague in two departments
    {1004, "u1004", 9, "Orphan", 1}, // department not in the tree: dropped
    {1005, "1001", 3, "C", 5},       // a user name that looks like another's id
};

} // namespace

TEST(Departments, TreeFromLoginAnswer)
{
    test::DataRoot root;
    Tree t(kDepts, kUsers);
    EXPECT_EQ(Shape(t.M.ChildNodes()),
              QStringLiteral("A{B{@u1001,@u1002},High},C{Five{@u1003,@u1001},@1001},Big{UnderBig}"));
    EXPECT_EQ(t.M.FindDepartNode(Big)->NodeName(), QStringLiteral("Big"));
    EXPECT_EQ(t.M.FindDepartNode(2147483648LL)->NodeName(), QStringLiteral("High"));
    EXPECT_EQ(t.M.FindDepartNode(9), nullptr);

    struct Count {
        int64_t Id;
        int Users, Online;
    };
    for (const Count& c : {Count{1, 2, 1}, Count{2, 2, 1}, Count{3, 3, 2}, Count{5, 2, 2}, Count{Big, 0, 0}}) {
        SCOPED_TRACE(c.Id);
        EXPECT_EQ(t.M.FindDepartNode(c.Id)->ChildUserCount(), c.Users);
        EXPECT_EQ(t.M.FindDepartNode(c.Id)->OnlineCount(), c.Online);
    }

    struct Long {
        const char* Who;
        const char* Path;
    };
    for (const Long& l : {Long{"u1001", "A/B"}, Long{"u1002", "A/B/B-East"}, Long{"u1003", "C/Five"},
                          Long{"1005", "C"}, Long{"nobody", ""}}) {
        SCOPED_TRACE(l.Who);
        EXPECT_EQ(t.M.GetLongDepartName(QString::fromLatin1(l.Who)), QString::fromUtf8(l.Path));
    }

    // The first match in tree order, by id text or user name, with case.
    EXPECT_EQ(t.M.FindDepartUser(QStringLiteral("1001"))->UserName(), QStringLiteral("u1001"));
    EXPECT_EQ(t.M.FindDepartUser(QStringLiteral("1001"))->DepartId(), 2);
    EXPECT_EQ(t.M.FindDepartUser(QStringLiteral("U1003")), nullptr);
    EXPECT_EQ(t.M.FindDepartUser(QStringLiteral("01003")), nullptr);
    EXPECT_EQ(t.M.DepartUsersOf(1001).size(), 2u);

    std::vector<TDepartNode*> list;
    t.M.GetDepartUserList(0, list);
    EXPECT_EQ(list.size(), 5u);
    list.clear();
    t.M.GetDepartUserList(3, list);
    EXPECT_EQ(list.size(), 3u);
    list.clear();
    t.M.GetDepartUserList(12345, list);
    EXPECT_TRUE(list.empty());
}

// The session prepares the tree on the receiving thread; the UI thread's step
// must give the same tree, and a tree prepared from another answer is never used.
TEST(Departments, PreparedTreeIsSwappedInOnlyForItsAnswer)
{
    test::DataRoot root;
    TBitDocument doc(QStringLiteral("Users.Login[ACK]"));
    test::AddDepartments(doc, kDepts, kUsers);
    TBitDocument other(QStringLiteral("Users.Login[ACK]"));
    test::AddDepartments(other, {{7, QStringLiteral("Seven"), 0}}, {});

    TDepartmentManager direct;
    direct.InitWhenLoginSuccess(doc);

    TDepartmentManager m;
    std::thread([&] { m.PrepareLoginData(doc); }).join();
    EXPECT_EQ(m.ChildNodes().Count(), 0); // nothing visible before the UI step
    m.InitWhenLoginSuccess(doc);
    EXPECT_EQ(Shape(m.ChildNodes()), Shape(direct.ChildNodes()));
    EXPECT_EQ(m.FindDepartNode(3)->OnlineCount(), direct.FindDepartNode(3)->OnlineCount());
    EXPECT_EQ(m.GetLongDepartName(QStringLiteral("u1003")), QStringLiteral("C/Five"));
    ExpectCountsMatchRecount(m.ChildNodes());

    // Prepared for one answer, applied with another: built from the one applied.
    m.PrepareLoginData(doc);
    m.InitWhenLoginSuccess(other);
    EXPECT_EQ(Shape(m.ChildNodes()), QStringLiteral("Seven"));
    // A logout drops what was prepared and never applied.
    m.PrepareLoginData(doc);
    m.UpdateDataWhenLogout();
    m.InitWhenLoginSuccess(other);
    EXPECT_EQ(Shape(m.ChildNodes()), QStringLiteral("Seven"));
}

TEST(Departments, StatusUpdatesKeepCountsEqualToRecount)
{
    test::DataRoot root;
    Tree t(kDepts, kUsers);
    // A random walk of presence changes, counts checked after each.
    std::mt19937 rng(7);
    const int32_t ids[] = {1001, 1002, 1003, 1005, 4242};
    for (int i = 0; i < 500; ++i) {
        const int32_t id = ids[rng() % 5];
        const TLoginStatus s = TLoginStatus(rng() % 6);
        t.M.UpdateUserLoginStatus(id, s);
        t.M.UpdateOnlineCount();
        for (TDepartNode* n : t.M.DepartUsersOf(id)) ASSERT_EQ(n->LoginStatus(), s);
        ExpectCountsMatchRecount(t.M.ChildNodes());
    }
    t.M.UpdateDataWhenLogout();
    EXPECT_EQ(t.M.FindDepartNode(1)->OnlineCount(), 0);
    EXPECT_EQ(t.M.FindDepartNode(3)->ChildUserCount(), 3);
}

TEST(Departments, UpdatesReachEveryNodeOfTheUser)
{
    test::DataRoot root;
    test::DownloadsGuard downloads;
    Tree t(kDepts, kUsers);
    TBitDocument doc;
    doc.Root()->AddStringNode(QStringLiteral("signature"), QStringLiteral("hello"));
    t.M.UpdateUserInfo(1001, doc);
    for (TDepartNode* n : t.M.DepartUsersOf(1001)) {
        EXPECT_EQ(n->Signature(), QStringLiteral("hello"));
        EXPECT_EQ(n->NickName(), QStringLiteral("Nick u1001")); // only the signature changed
    }
    downloads->Faces.clear();
    test::FakeSession session;
    t.M.UpdateUserFaceFile(1003, QStringLiteral("new.png"));
    EXPECT_EQ(t.M.DepartUsersOf(1003).front()->FaceFile(), QStringLiteral("new.png"));
    ASSERT_EQ(downloads->Faces.size(), 1u);
    EXPECT_EQ(downloads->Faces[0].second, QStringLiteral("new.png"));
}

TEST(Departments, ModifyTimeAndMissingFilesQueueDelayedDownloads)
{
    test::DataRoot root;
    test::DownloadsGuard downloads;
    // 1001 has a cache with the answer's time; 1002 a cache with an older one.
    for (auto [id, time] : {std::pair{1001, 100.0}, std::pair{1002, 50.0}}) {
        TOtherUser u;
        u.SetUserId(id);
        u.SetModifyTime(time);
        u.SaveToCache();
    }
    QFile(root.File("Temp/Faces/have.png")).open(QIODevice::WriteOnly);
    Tree t({{1, "A", 0}}, {{1001, "a", 1, "A", 0, 100, "have.png"},
                           {1002, "b", 1, "A", 0, 100, "miss.png"},
                           {1003, "c", 1, "A", 0, 0},
                           {1004, "d", 1, "A", 0, 1}});
    using D = test::FakeDownloads::Delay;
    const std::vector<D> expected = {{1002, true, "", ""}, {1002, false, "miss.png", ""}, {1004, true, "", ""}};
    EXPECT_EQ(downloads->Delays, expected);
}

TEST(Departments, MissingSectionsGiveEmptyTrees)
{
    TDepartmentManager m;
    TBitDocument none;
    m.InitWhenLoginSuccess(none);
    EXPECT_EQ(m.ChildNodes().Count(), 0);
    TBitDocument onlyDeps;
    onlyDeps.Root()->AddDirectoryNode(QStringLiteral("departments"))->AddDirectoryNode("0")->AddInt64Node("$1", 4);
    m.InitWhenLoginSuccess(onlyDeps); // entry without "$2"/"$3": defaults, no failure
    ASSERT_EQ(m.ChildNodes().Count(), 1);
    EXPECT_EQ(m.ChildNodes().Items(0)->NodeId(), 4);
}

TEST(Departments, DroppedNodesStayValidForHolders)
{
    test::DataRoot root;
    auto t = std::make_unique<Tree>(kDepts, kUsers);
    TDepartNodePtr held = t->M.FindDepartUserShared(QStringLiteral("u1003"));
    TBitDocument empty;
    t->M.InitWhenLoginSuccess(empty);
    t.reset();
    held->SetLoginStatus(lsOnline); // no parent to count into any more
    EXPECT_EQ(held->UserName(), QStringLiteral("u1003"));
}

// ---- contacts -----------------------------------------------------------------------

namespace {

void AddGroup(TBitNode& groups, int32_t id, const QString& name, const std::vector<UserRow>& contacts)
{
    TBitNode* g = groups.AddDirectoryNode(QString::number(groups.ChildNodes().Count()));
    g->AddInt32Node("$1", id);
    g->AddStringNode("$2", name);
    for (const char* f : {"$3", "$4", "$5", "$6"}) g->AddInt16Node(f, 0);
    TBitNode* cs = g->AddDirectoryNode("contacts");
    for (const UserRow& u : contacts) {
        TBitNode* c = cs->AddDirectoryNode(QString::number(cs->ChildNodes().Count()));
        c->AddInt32Node("$1", u.UserId);
        c->AddStringNode("$3", "remark");
        c->AddInt16Node("$6", u.UserId == 2001 ? 1 : 0);
        c->AddStringNode("$8", u.UserName);
        c->AddStringNode("$10", "Nick " + u.UserName);
        c->AddInt16Node("$12", 9); // out of range: no sex
        c->AddInt16Node("$17", int16_t(u.Status));
        c->AddFloat64Node("$20", u.ModifyTime);
    }
}

} // namespace

TEST(Contacts, LoginAnswerGroupsAndLookups)
{
    test::DataRoot root;
    TContactManager m;
    TBitDocument doc;
    TBitNode* groups = doc.Root()->AddDirectoryNode("contactgroups");
    AddGroup(*groups, 0, "Mine", {{2001, "alice", 0, "", 1}, {2002, "bob", 0, "", 5}});
    AddGroup(*groups, 2, "Black", {{2003, "carol", 0, "", 2}});
    AddGroup(*groups, 7, "Work", {{2004, "dave", 0, "", 3}});
    m.InitWhenLoginSuccess(doc); // no strangers group in the answer
    ASSERT_EQ(m.Groups().Count(), 4);
    ASSERT_NE(m.GetStrangerGroup(), nullptr);
    EXPECT_EQ(m.GetStrangerGroup()->ContactGroupId(), 1);
    EXPECT_EQ(m.GetContactGroup(0, true)->OnlineCount(), 1);
    EXPECT_EQ(m.GetContactGroup(7, true)->ContactGroupName(), QStringLiteral("Work"));
    EXPECT_EQ(m.GetContactGroup(8, true), nullptr);

    TContactGroup* g = nullptr;
    TContact* c = m.FindContact(QStringLiteral("2003"), g, true);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(g, m.GetBlackListGroup());
    EXPECT_EQ(c->Sex(), usNone);
    EXPECT_EQ(m.FindContact(QStringLiteral("Alice"), false), nullptr);
    EXPECT_EQ(m.FindContact(QStringLiteral("alice"), false)->RemindMeWhenLogin(), 1);
    EXPECT_EQ(c->ContactGroup().get(), m.GetBlackListGroup());

    // Identity changes after filing are found.
    c->SetUserName(QStringLiteral("caroline"));
    EXPECT_EQ(m.FindContact(QStringLiteral("caroline"), true), c);

    m.UpdateDataWhenLogout();
    EXPECT_EQ(m.GetMyContactsGroup()->OnlineCount(), 0);
    EXPECT_EQ(m.FindContact(QStringLiteral("2001"), false)->LoginStatus(), lsOffline);
}

TEST(Contacts, StrangerNeeded)
{
    test::DataRoot root;
    test::FakeSession session;
    TContactManager m;
    TBitDocument doc;
    AddGroup(*doc.Root()->AddDirectoryNode("contactgroups"), 2, "Black", {{2003, "carol", 0, ""}});
    m.InitWhenLoginSuccess(doc);
    std::vector<std::pair<uintptr_t, uintptr_t>> added;
    TBindingEvent sub(QStringLiteral("Client:OnAddContact"),
                      [&](TBindingEvent& e) { added.emplace_back(e.EventParam1(), e.EventParam2()); });

    m.StrangerNeeded(2003, "carol", "C", "Carol", true); // on the black list: nothing
    EXPECT_TRUE(added.empty());
    EXPECT_TRUE(session.Sent.empty());

    m.StrangerNeeded(3001, "x", "X", "Ex", true);
    m.StrangerNeeded(3002, "y", "Y", "Why", true);
    ASSERT_EQ(m.GetStrangerGroup()->ContactList().Count(), 2);
    EXPECT_EQ(m.GetStrangerGroup()->ContactList().Items(0)->UserId(), 3002); // newest first
    EXPECT_EQ(added, (std::vector<std::pair<uintptr_t, uintptr_t>>{{1, 3001}, {1, 3002}}));
    ASSERT_EQ(session.Sent.size(), 2u);
    EXPECT_EQ(session.Sent[0]->Name(), QStringLiteral("Contacts.AddContact"));
    EXPECT_EQ(session.Sent[0]->ReadInt32(u"contactgroupid"), 1);
    EXPECT_EQ(session.Sent[0]->ReadInt32(u"contactid"), 3001);
}

TEST(Contacts, RequestsTrimAndCut)
{
    test::FakeSession session;
    TContactManager m;
    const QString name25 = QStringLiteral("  ") + QString(25, u'n') + QStringLiteral("\t ");
    const QString remark30(30, u'r');
    m.AddContactGroup(name25);
    m.ChangeContactGroupName(9, name25);
    m.AddContact(0, 5, remark30);
    m.ChangeContactRemarkName(5, remark30);
    m.RemoveContact(5, true);
    m.RemoveContact(5, false);
    m.ChangeContactSetting(5, 1, 0, 1, 0);
    struct Expect {
        const char* Doc;
        const char* Node;
        QString Text;
        int Number;
    };
    const Expect expected[] = {
        {"Contacts.AddContactGroup", "contactgroupname", QString(20, u'n'), 0},
        {"Contacts.ChangeContactGroupName", "contactgroupname", QString(20, u'n'), 0},
        {"Contacts.AddContact", "remarkname", remark30, 0},
        {"Contacts.ChangeContactRemarkName", "remarkname", QString(20, u'r'), 0},
        {"Contacts.RemoveContact", "removeotherside", {}, 1},
        {"Contacts.RemoveContact", "removeotherside", {}, 0},
        {"Contacts.ChangeContactSetting", "remindmewhenlogin", {}, 1},
    };
    ASSERT_EQ(session.Sent.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        const TBitDocument& d = *session.Sent[i];
        EXPECT_EQ(d.Name(), QString::fromLatin1(expected[i].Doc));
        const TBitNode* n = d.FindNode(QString::fromLatin1(expected[i].Node));
        ASSERT_NE(n, nullptr);
        if (n->NodeType() == bntString)
            EXPECT_EQ(n->ToString(), expected[i].Text);
        else
            EXPECT_EQ(n->ToInt32(), expected[i].Number);
    }
    EXPECT_EQ(session.Sent[4]->FindNode(u"removeotherside")->NodeType(), bntInt16);

    session.SignedIn = false;
    session.Sent.clear();
    m.AddContactGroup("x");
    m.MoveToBlackList(3);
    m.MoveContact(3, 0);
    m.RemoveContactGroup(4);
    m.ChangeContactGroupSetting(4, 0, 0, 0, 0);
    EXPECT_TRUE(session.Sent.empty());
}
