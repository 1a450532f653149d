// Own-account requests: the trim and cut rules of the documents, the SMS
// allowance, and the upload refusals that never reach the wire.
#include "core/BitDocument.h"
#include "core/Client_BindingEvents.h"
#include "core/Client_CurrentUser.h"
#include "core/Client_CurrentUserRequests.h"
#include "TestSupport.h"
#include <gtest/gtest.h>
#include <QStringList>

namespace pelvox {
namespace {

QString Rep(const char* s, int n) { return QString::fromLatin1(s).repeated(n); }

QString StringNode(const TBitDocument& d, const char* name)
{
    const TBitNode* n = d.Root()->ChildNodes().FindNode(QString::fromLatin1(name));
    EXPECT_NE(n, nullptr) << name;
    return n ? n->ToString() : QString();
}

TEST(AccountRequests, ChangeUserInfoKeepsWireOrderAndTypes)
{
    TBitDocument d(QStringLiteral("Users.ChangeUserInfo"));
    BuildChangeUserInfoRequest(d, {});
    const QStringList expected = QStringLiteral(
        "nickname signature actualname sex age birth_year birth_month birth_day country province city area "
        "address telephone telephone_short telephone2 telephone2_short mobile mobile_short mobile2 mobile2_short "
        "fax qq weixin weibo email roomname roomnumber idnumber carnumber homepage introduction")
                                     .split(QLatin1Char(' '));
    const TBitNodeList& nodes = d.Root()->ChildNodes();
    ASSERT_EQ(nodes.Count(), 32);
    for (int i = 0; i < nodes.Count(); ++i) {
        EXPECT_EQ(nodes[i]->NodeName(), expected[i]);
        const bool number = i >= 3 && i <= 11;
        EXPECT_EQ(nodes[i]->NodeType(), number ? bntInt16 : bntString) << expected[i].toStdString();
    }
}

// Each text field: a value with blanks around it, and what goes out.
TEST(AccountRequests, ChangeUserInfoTrimsThenCuts)
{
    struct Case {
        QString TUserInfoChangeItems::*Field;
        const char* Node;
        int Limit;
    };
    using I = TUserInfoChangeItems;
    const Case cases[] = {
        {&I::NickName, "nickname", 20},     {&I::Signature, "signature", 120}, {&I::ActualName, "actualname", 20},
        {&I::Address, "address", 50},       {&I::Telephone, "telephone", 20},  {&I::Mobile2_Short, "mobile2_short", 20},
        {&I::Fax, "fax", 20},               {&I::QQ, "qq", 20},                {&I::Weixin, "weixin", 50},
        {&I::Email, "email", 50},           {&I::CarNumber, "carnumber", 50},  {&I::Homepage, "homepage", 80},
        {&I::Introduction, "introduction", 120},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Node);
        TUserInfoChangeItems items;
        // Blanks and control characters around, five characters over the limit.
        items.*c.Field = QStringLiteral(" \t") + Rep("x", c.Limit + 5) + QStringLiteral("\r\n ");
        TBitDocument d(QStringLiteral("Users.ChangeUserInfo"));
        BuildChangeUserInfoRequest(d, items);
        EXPECT_EQ(StringNode(d, c.Node), Rep("x", c.Limit));

        // Inner blanks stay; a text within the limit is only trimmed.
        items.*c.Field = QStringLiteral("  a b  ");
        TBitDocument e(QStringLiteral("Users.ChangeUserInfo"));
        BuildChangeUserInfoRequest(e, items);
        EXPECT_EQ(StringNode(e, c.Node), QStringLiteral("a b"));
    }

    // Nickname of 25 characters with blanks: its first 20.
    TUserInfoChangeItems items;
    items.NickName = QStringLiteral("  ABCDEFGHIJKLMNOPQRSTUVWXY  ");
    items.Sex = 2;
    items.Age = -1;
    items.Birth_Year = 70000; // sent at 16 bits as it is
    TBitDocument d(QStringLiteral("Users.ChangeUserInfo"));
    BuildChangeUserInfoRequest(d, items);
    EXPECT_EQ(StringNode(d, "nickname"), QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
    EXPECT_EQ(d.Root()->ChildNodes().FindNode(QStringLiteral("sex"))->ToInt16(), 2);
    EXPECT_EQ(d.Root()->ChildNodes().FindNode(QStringLiteral("age"))->ToInt16(), -1);
    EXPECT_EQ(d.Root()->ChildNodes().FindNode(QStringLiteral("birth_year"))->ToInt16(), int16_t(70000));
}

TEST(AccountRequests, SignatureAndJoinSettingCuts)
{
    struct Case {
        QString In;
        QString Signature; // trimmed, cut to 120
    };
    const Case sig[] = {
        {QStringLiteral("  hello  "), QStringLiteral("hello")},
        {Rep("s", 130), Rep("s", 120)},
        {QStringLiteral(" ") + Rep("s", 120) + QStringLiteral(" "), Rep("s", 120)},
        {QStringLiteral("   "), QString()},
        // Cut counts UTF-16 code units.
        {QString(119, QChar(0x4E2D)) + QStringLiteral("ab"), QString(119, QChar(0x4E2D)) + QStringLiteral("a")},
    };
    for (const Case& c : sig) {
        TBitDocument d(QStringLiteral("Users.ChangeSignature"));
        BuildChangeSignatureRequest(d, c.In);
        EXPECT_EQ(StringNode(d, "signature"), c.Signature);
    }

    // Question and answer: cut to 50, blanks kept.
    const QString question = QStringLiteral("  ") + Rep("q", 58);
    TBitDocument d(QStringLiteral("Users.UpdateUserJoinSetting"));
    BuildUpdateJoinSettingRequest(d, 1, 2, question, QStringLiteral(" yes "));
    EXPECT_EQ(d.Root()->ChildNodes().FindNode(QStringLiteral("onlyfindmebyid"))->ToInt16(), 1);
    EXPECT_EQ(d.Root()->ChildNodes().FindNode(QStringLiteral("joinsetting"))->ToInt16(), 2);
    EXPECT_EQ(StringNode(d, "joinquestion"), question.left(50));
    EXPECT_EQ(StringNode(d, "joinanswer"), QStringLiteral(" yes "));
}

struct EventLog {
    explicit EventLog(const QString& name)
        : Sub(name, [this](TBindingEvent& e) { Params.push_back({e.EventParam1(), e.EventParam2()}); })
    {
    }
    std::vector<std::pair<uintptr_t, uintptr_t>> Params;
    TBindingEvent Sub;
};

TEST(AccountRequests, SMSLimit)
{
    struct Case {
        const char* Name;
        int32_t Total, TotalSended, DayLimit, DaySended;
        double StartedHoursAgo;
        bool Allowed;
        uintptr_t Error; // 0: none
        int32_t DaySendedAfter, TotalSendedAfter;
    };
    const Case cases[] = {
        {"no service", -1, 0, 0, 0, 1, false, 1, 0, 0},
        {"total used up", 100, 100, 0, 0, 1, false, 2, 0, 100},
        {"no daily limit", 100, 99, 0, 7, 1, true, 0, 7, 100},
        {"daily limit reached", 100, 10, 5, 5, 23, false, 3, 5, 10},
        {"new window", 100, 10, 5, 5, 25, true, 0, 1, 11},
        {"within the window", 100, 10, 5, 4, 1, true, 0, 5, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TCurrentUser u(nullptr);
        u.SetSMSTotal(c.Total);
        u.SetSMSTotalSended(c.TotalSended);
        u.SetSMSDayLimit(c.DayLimit);
        u.SetSMSDaySended(c.DaySended);
        u.SetSMSDayStart(NowLocal() - c.StartedHoursAgo / 24.0);
        EventLog log(QStringLiteral("Client:OnSMSError"));
        EXPECT_EQ(u.CheckSMSLimit(), c.Allowed);
        if (c.Error)
            EXPECT_EQ(log.Params, (std::vector<std::pair<uintptr_t, uintptr_t>>{{c.Error, 0}}));
        else
            EXPECT_TRUE(log.Params.empty());
        EXPECT_EQ(u.SMSDaySended(), c.DaySendedAfter);
        EXPECT_EQ(u.SMSTotalSended(), c.TotalSendedAfter);
    }
}

TEST(AccountRequests, ShowName)
{
    TCurrentUser u(nullptr);
    u.SetNickName(QStringLiteral("Anna"));
    u.SetUserName(QStringLiteral("10001"));
    EXPECT_EQ(u.GetShowName(true), QStringLiteral("Anna(10001)"));
    EXPECT_EQ(u.GetShowName(false), QStringLiteral("Anna"));
}

} // namespace
} // namespace pelvox
