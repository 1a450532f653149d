#include "TestSupport.h"
#include "core/Client_Base.h"
#include "core/Client_BugReport.h"
#include "platform/DebugOutput.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

using namespace pelvox;

TEST(AppRoot, BinFolderIsDroppedWithoutRegardToCase)
{
    struct Case { const char* exe; const char* root; };
    const Case cases[] = {
        {"/opt/App/Bin/quorvel", "/opt/App/"},
        {"/opt/App/bin/quorvel", "/opt/App/"},
        {"/opt/App/BIN/quorvel", "/opt/App/"},
        {"/opt/App/quorvel", "/opt/App/"},
        {"/home/Robin/App/bin/quorvel", "/home/Robin/App/"},
        {"/home/Robin/Binary/quorvel", "/home/Robin/Binary/"},
        {"/Bin/App/quorvel", "/Bin/App/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AppRootFromExecutable(QString::fromLatin1(c.exe)), QString::fromLatin1(c.root)) << c.exe;
}

TEST(AppRoot, MacroRoundTripsPathsBelowTheRoot)
{
    test::TempAppRoot root;
    const QString inside = root.Path() + QStringLiteral("Users/10001/Received Files/");
    const QString encoded = EncodeAppRootPath(inside);
    EXPECT_EQ(encoded, QStringLiteral("%AppRoot%Users/10001/Received Files/"));
    EXPECT_EQ(DecodeAppRootPath(encoded), inside);
    EXPECT_EQ(DecodeAppRootPath(QStringLiteral("%APPROOT%x")), root.Path() + u'x');
    EXPECT_EQ(EncodeAppRootPath(QStringLiteral("/elsewhere/x")), QStringLiteral("/elsewhere/x"));
    EXPECT_EQ(DecodeAppRootPath(QStringLiteral("/elsewhere/x")), QStringLiteral("/elsewhere/x"));
}

TEST(Paths, ExtractLastPathName)
{
    struct Case { const char* in; const char* out; };
    const Case cases[] = {{"/a/b/c", "c"}, {"/a/b//", "b"}, {"C:\\x\\Folder\\\\", "Folder"}, {"name", "name"}, {"", ""}, {"///", ""}};
    for (const auto& c : cases) EXPECT_EQ(ExtractLastPathName(QString::fromLatin1(c.in)), QString::fromLatin1(c.out)) << c.in;
}

TEST(Files, IsExecutableFileTable)
{
    struct Case { const char16_t* name; bool exec; };
    const Case cases[] = {
        {u"report.pdf.exe", true}, {u"report.exe.pdf", false}, {u"SETUP.EXE", true}, {u"a.js ", true},
        {u"noext", false}, {u"install.sh", true}, {u"app.AppImage", true}, {u"x.desktop", true},
        {u"tool.jar", true}, {u"s.py", true}, {u"p.PL", true}, {u"photo.jpg", false}, {u"notes.txt", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsExecutableFile(QString::fromUtf16(c.name)), c.exec) << QString::fromUtf16(c.name).toStdString();
}

TEST(Files, SizeOfASparseFileAbove4GiB)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/big.bin");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const int64_t size = (int64_t(5) << 30) + 3;
    ASSERT_TRUE(f.resize(size));
    f.close();
    EXPECT_EQ(GetFileSizeByName(path), size);
    EXPECT_EQ(GetFileSizeByName(dir.path() + QStringLiteral("/missing")), -1);
}

static void WriteFile(const QString& path, int bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(bytes, 'x'));
}

TEST(Files, ListFolderListsFoldersBeforeTheirContentsAndSkipsDotFolders)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    QDir(root).mkpath(QStringLiteral("sub/deeper"));
    QDir(root).mkpath(QStringLiteral(".hidden"));
    WriteFile(root + QStringLiteral("/a.txt"), 10);
    WriteFile(root + QStringLiteral("/sub/b.txt"), 20);
    WriteFile(root + QStringLiteral("/sub/deeper/c.txt"), 30);
    WriteFile(root + QStringLiteral("/.hidden/d.txt"), 40);
    // A link back to the top must not loop.
    ASSERT_EQ(::symlink(QFile::encodeName(root).constData(), QFile::encodeName(root + QStringLiteral("/sub/loop")).constData()), 0);

    std::vector<TFileItem> items;
    int64_t total = 5; // only added to
    ListFolderFiles(QStringLiteral("  ") + root + QStringLiteral("  "), items, total);
    EXPECT_EQ(total, 5 + 10 + 20 + 30);
    auto indexOf = [&](const QString& rel) {
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].FileName == root + u'/' + rel) return int(i);
        return -1;
    };
    ASSERT_GE(indexOf(QStringLiteral("sub")), 0);
    EXPECT_TRUE(items[size_t(indexOf(QStringLiteral("sub")))].IsDirectory);
    EXPECT_LT(indexOf(QStringLiteral("sub")), indexOf(QStringLiteral("sub/b.txt")));
    EXPECT_LT(indexOf(QStringLiteral("sub/deeper")), indexOf(QStringLiteral("sub/deeper/c.txt")));
    EXPECT_EQ(indexOf(QStringLiteral(".hidden")), -1);
    EXPECT_EQ(indexOf(QStringLiteral(".hidden/d.txt")), -1);
    EXPECT_EQ(items.size(), 5u);

    std::vector<TFileItem> none;
    int64_t unchanged = 7;
    ListFolderFiles(root + QStringLiteral("/missing"), none, unchanged);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(unchanged, 7);
}

TEST(Files, InUseWhenAnotherHolderLocksTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/f.txt");
    WriteFile(path, 3);
    EXPECT_FALSE(IsFileInUse(path));
    EXPECT_FALSE(IsFileInUse(dir.path()));
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_TRUE(IsFileInUse(path));
    EXPECT_TRUE(IsFileInUse(dir.path()));
    ::close(fd);
    EXPECT_FALSE(IsFileInUse(path));
    EXPECT_FALSE(IsFileInUse(dir.path() + QStringLiteral("/nothing")));
}

TEST(Texts, URLEncodeAndDecode)
{
    EXPECT_EQ(URLEncode("a b&c@!$'()*-._~"), QByteArray("a+b%26c@!$'()*-._%7e"));
    EXPECT_EQ(URLEncode("\xe4\xb8\xad"), QByteArray("%e4%b8%ad"));
    struct Case { const char* in; const char* out; };
    const Case cases[] = {
        {"a+b%26c", "a b&c"}, {"%E4%b8%AD", "\xe4\xb8\xad"}, {"100%%", "100%"},
        {"bad%", "bad%"}, {"bad%4", "bad%4"}, {"x+%zz", "x+%zz"}, {"plain", "plain"},
    };
    for (const auto& c : cases) EXPECT_EQ(URLDecode(c.in), QByteArray(c.out)) << c.in;
    const QByteArray all = [] { QByteArray b; for (int i = 0; i < 256; ++i) b += char(i); return b; }();
    EXPECT_EQ(URLDecode(URLEncode(all)), all);
}

TEST(Texts, DateTimeStrAndWideBuffer)
{
    EXPECT_EQ(GetDateTimeStr(EncodeDateTime(2026, 3, 4, 5, 6, 7)), QStringLiteral("2026-03-04 05:06:07"));
    char16_t buf[6] = {u'x', u'x', u'x', u'x', u'x', u'x'};
    TextToWideCharBuffer(buf, 5, QStringLiteral("abcdefg"));
    EXPECT_EQ(QString::fromUtf16(buf, 5), QStringLiteral("abcde"));
    TextToWideCharBuffer(buf, 5, QStringLiteral("ab"));
    EXPECT_EQ(buf[2], 0);
    EXPECT_EQ(buf[5], u'x'); // nothing past the count
}

TEST(Times, ConversionUsesTheRulesOfTheDateConverted)
{
    struct Case { const char* zone; int month; int localHour; int utcHour; int bias; };
    const Case cases[] = {
        {"Europe/Berlin", 1, 12, 11, -60}, {"Europe/Berlin", 7, 12, 10, -120},
        {"America/New_York", 1, 8, 13, 300}, {"America/New_York", 7, 8, 12, 240},
        {"Asia/Shanghai", 1, 8, 0, -480}, {"Asia/Shanghai", 7, 8, 0, -480},
    };
    for (const auto& c : cases) {
        const QTimeZone zone(c.zone);
        ASSERT_TRUE(zone.isValid()) << c.zone;
        const TDateTime local = EncodeDateTime(2026, c.month, 15, c.localHour);
        EXPECT_EQ(GetTimeZoneBias(local, zone), c.bias) << c.zone << " " << c.month;
        const TDateTime utc = LocalTimeToUTC(local, zone);
        EXPECT_EQ(DateTimeToFields(utc).time().hour(), c.utcHour) << c.zone << " " << c.month;
        EXPECT_NEAR(UTCToLocalTime(utc, zone), local, 1e-9);
    }
}

TEST(CommandLine, SwitchesMatchWholeNamesWithoutCase)
{
    const QStringList args = {QStringLiteral("-user"), QStringLiteral("zhang"), QStringLiteral("-pwd"),
                              QStringLiteral("/CHAT"), QStringLiteral("10002")};
    QString value = QStringLiteral("old");
    EXPECT_TRUE(GetCmdLineSwitch(args, QStringLiteral("user"), value));
    EXPECT_EQ(value, u"zhang");
    value = QStringLiteral("old");
    EXPECT_TRUE(GetCmdLineSwitch(args, QStringLiteral("pwd"), value)); // followed by a switch
    EXPECT_EQ(value, u"old");
    EXPECT_TRUE(GetCmdLineSwitch(args, QStringLiteral("chat"), value));
    EXPECT_EQ(value, u"10002");
    EXPECT_FALSE(GetCmdLineSwitch(args, QStringLiteral("use"), value));
    EXPECT_FALSE(GetCmdLineSwitch(args, QStringLiteral("users"), value));
    EXPECT_FALSE(GetCmdLineSwitch(QStringList{QStringLiteral("user")}, QStringLiteral("user"), value));
}

TEST(BugReport, WritesExactlyOneLineToTheDebugOutput)
{
    DebugOutputCapture capture;
    TQVBugReport::WriteError(QStringLiteral("Socket closed %1"), QStringLiteral("Core.bpl"), QStringLiteral("Client_TCPClient"),
                             QStringLiteral("TTCPClient.Disconnect"), QString());
    EXPECT_EQ(capture.Lines(),
              QStringList{QStringLiteral("[error]:Socket closed %1, [modulename]:Core.bpl, [unitname]:Client_TCPClient, "
                                         "[methodname]:TTCPClient.Disconnect, [position]:")});
}

TEST(VersionInfo, OnlyTheProgramItself)
{
    TFileVersionInfo info;
    EXPECT_TRUE(ReadFileVersionInfo(QCoreApplication::applicationFilePath(), info));
    EXPECT_EQ(info.FixedInfo[0], 0xFEEF04BDu);
    EXPECT_FALSE(info.FileVersion.isEmpty());
    EXPECT_EQ(info.LocalPort, u"66500");
    TFileVersionInfo other;
    EXPECT_FALSE(ReadFileVersionInfo(QStringLiteral("/bin/sh"), other));
}

TEST(ThreadObjectList, OwnsItsObjects)
{
    struct Counted {
        explicit Counted(int* c) : C(c) { ++*C; }
        ~Counted() { --*C; }
        int* C;
    };
    int alive = 0;
    {
        TThreadObjectList<Counted> list;
        list.Lock();
        list.Add(std::make_unique<Counted>(&alive));
        list.Add(std::make_unique<Counted>(&alive));
        list.Delete(0);
        list.UnLock();
        EXPECT_EQ(alive, 1);
    }
    EXPECT_EQ(alive, 0);
}
