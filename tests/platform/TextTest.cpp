#include "platform/SafeFileName.h"
#include "platform/Text.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pelvox;

TEST(Text, TrimRemovesControlAndBlankOnlyAtEnds)
{
    EXPECT_EQ(Trim(u"\t\r\n a b \x01"), u"a b");
    EXPECT_EQ(Trim(u"\u3000x\u3000"), u"\u3000x\u3000"); // ideographic space is above 0x20
    EXPECT_EQ(Trim(u"   "), u"");
    EXPECT_EQ(TrimLeft(u"  x "), u"x ");
    EXPECT_EQ(TrimRight(u"  x "), u"  x");
}

TEST(Text, CaseFoldingCoversOnlyAsciiLetters)
{
    EXPECT_TRUE(SameText(u"Client:OnLogin", u"CLIENT:ONLOGIN"));
    EXPECT_FALSE(SameText(u"\u00e9", u"\u00c9")); // é and É differ: only a-z fold
    EXPECT_FALSE(SameText(u"ab", u"abc"));
    EXPECT_LT(CompareText(u"abc", u"ABD"), 0);
    EXPECT_EQ(CompareText(u"abc", u"ABC"), 0);
    EXPECT_GT(CompareText(u"abcd", u"ABC"), 0);
    EXPECT_EQ(UpperCase(u"a\u00e9z"), u"A\u00e9Z");
    EXPECT_EQ(PosText(u"ROOT", u"/x/Root/y"), 3);
    EXPECT_EQ(ReplaceText(u"/A/root/b/ROOT", u"Root", u"R"), u"/A/R/b/R");
    EXPECT_EQ(FoldedHash(u"Name"), FoldedHash(u"nAME"));
}

TEST(Text, CutTextCountsUtf16CodeUnits)
{
    struct Case { QString text; int count; QString expected; };
    const Case cases[] = {
        {QStringLiteral("abcde"), 3, QStringLiteral("abc")},
        {QStringLiteral("abcde"), 10, QStringLiteral("abcde")},
        {QStringLiteral("abcde"), 0, QString()},
        {QStringLiteral("abcde"), -1, QString()},
        {QString::fromUtf16(u"\U0001F600x"), 1, QString::fromUtf16(u"\xD83D")}, // half a surrogate pair
    };
    for (const auto& c : cases) EXPECT_EQ(CutText(c.text, c.count), c.expected) << c.text.toStdString() << " " << c.count;
}

TEST(Text, BoolTexts)
{
    EXPECT_EQ(BoolToText(true), u"True");
    EXPECT_EQ(BoolToText(false), u"False");
    for (const char16_t* t : {u"True", u"TRUE", u"true", u"tRuE"}) EXPECT_TRUE(TextToBool(t));
    for (const char16_t* t : {u"", u"False", u"1", u"yes", u" True"}) EXPECT_FALSE(TextToBool(t));
}

TEST(Text, StrToIntDefTable)
{
    struct Case { const char16_t* text; int64_t expected; };
    const Case cases[] = {
        {u"0", 0}, {u"-12", -12}, {u"+7", 7}, {u"2147483647", 2147483647}, {u"-2147483648", -2147483648LL},
        {u"2147483648", -1}, {u"$1F", 31}, {u"0x10", 16}, {u"", -1}, {u"12a", -1}, {u" 1", -1}, {u"-", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(StrToIntDef(c.text, -1), c.expected) << QString::fromUtf16(c.text).toStdString();
    EXPECT_EQ(StrToInt64Def(u"9223372036854775807", 0), INT64_MAX);
    EXPECT_EQ(StrToInt64Def(u"9223372036854775808", 5), 5);
}

TEST(SafeFileName, RefusesNamesThatLeaveTheFolder)
{
    for (const char16_t* bad : {u"", u".", u"..", u"../x.png", u"/etc/x", u"a\\b.png", u"a/b", u"x\ny", u"\x7f"})
        EXPECT_FALSE(IsSafeFileName(QString::fromUtf16(bad))) << QString::fromUtf16(bad).toStdString();
    for (const char16_t* good : {u"a.png", u"..a", u"头像.gif", u"a b (1).txt"})
        EXPECT_TRUE(IsSafeFileName(QString::fromUtf16(good)));
    EXPECT_FALSE(IsSafeFileName(QString(256, u'a')));
    EXPECT_EQ(SafeJoin(QStringLiteral("/tmp/f"), QStringLiteral("../x")), QString());
    EXPECT_EQ(SafeJoin(QStringLiteral("/tmp/f/"), QStringLiteral("x")), QStringLiteral("/tmp/f/x"));
}

TEST(SafeFileName, ExistingNamesGetAFreeVariant)
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    for (const char* n : {"a.txt", "a(1).txt", "noext"}) {
        QFile f(folder + u'/' + QLatin1String(n));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(SafeJoinFree(folder, QStringLiteral("a.txt")), folder + QStringLiteral("/a(2).txt"));
    EXPECT_EQ(SafeJoinFree(folder, QStringLiteral("noext")), folder + QStringLiteral("/noext(1)"));
    EXPECT_EQ(SafeJoinFree(folder, QStringLiteral("new.txt")), folder + QStringLiteral("/new.txt"));
    EXPECT_EQ(SafeJoinFree(folder, QStringLiteral("../a.txt")), QString());
}
