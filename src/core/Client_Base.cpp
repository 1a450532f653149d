#include "core/Client_Base.h"
#include "BuildConfig.h"
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <cmath>
#include <fcntl.h>
#include <malloc.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelvox {

// ---- Paths ----------------------------------------------------------------

namespace {
std::mutex gPathLock;
QString gAppRootOverride;
QStringList gArgs;
bool gArgsSet = false;
} // namespace

QString AppRootFromExecutable(const QString& exePath)
{
    QString folder = exePath.left(260);
    const qsizetype slash = folder.lastIndexOf(u'/');
    folder = slash >= 0 ? folder.left(slash + 1) : QStringLiteral("./");
    // The folder's last component, without its trailing separator.
    const QString withoutSlash = folder.left(folder.size() - 1);
    const qsizetype prev = withoutSlash.lastIndexOf(u'/');
    const QString last = withoutSlash.mid(prev + 1);
    if (prev >= 0 && SameText(last, u"Bin")) return withoutSlash.left(prev + 1);
    return folder;
}

void SetAppRootOverride(const QString& root)
{
    std::lock_guard l(gPathLock);
    gAppRootOverride = root.isEmpty() || root.endsWith(u'/') ? root : root + u'/';
}

QString GetAppRoot()
{
    {
        std::lock_guard l(gPathLock);
        if (!gAppRootOverride.isEmpty()) return gAppRootOverride;
    }
    QString exe = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
    if (exe.isEmpty()) exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return AppRootFromExecutable(exe);
}

QString EncodeAppRootPath(const QString& AText) { return ReplaceText(AText, GetAppRoot(), u"%AppRoot%"); }

QString DecodeAppRootPath(const QString& AText) { return ReplaceText(AText, u"%AppRoot%", GetAppRoot()); }

QString GetMyDocumentsPath()
{
    QString p = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (p.isEmpty()) p = QDir::homePath();
    return p.endsWith(u'/') ? p : p + u'/';
}

QString GetTempFolder()
{
    const QString p = QDir::tempPath();
    return p.endsWith(u'/') ? p : p + u'/';
}

static bool IsSeparator(QChar c) { return c == u'/' || c == u'\\'; }

QString ExtractLastPathName(const QString& APath)
{
    qsizetype end = APath.size();
    while (end > 0 && IsSeparator(APath[end - 1])) --end;
    qsizetype start = end;
    while (start > 0 && !IsSeparator(APath[start - 1])) --start;
    return APath.mid(start, end - start);
}

QString ToLocalSeparators(const QString& path)
{
    QString r = path;
    r.replace(u'\\', u'/');
    return r;
}

// ---- Files ----------------------------------------------------------------

int64_t GetFileSizeByName(const QString& AFileName)
{
    struct stat st {};
    const QByteArray native = QFile::encodeName(AFileName);
    if (native.isEmpty() || ::stat(native.constData(), &st) != 0) return -1;
    if (S_ISDIR(st.st_mode)) return -1;
    return int64_t(st.st_size);
}

namespace {
void ListFolder(const QString& folder, std::vector<TFileItem>& list, int64_t& total, std::set<std::pair<dev_t, ino_t>>& seen)
{
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0) return;
    if (!seen.insert({st.st_dev, st.st_ino}).second) return; // a loop through a mount or link
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QFileInfo fi = it.fileInfo();
        if (fi.isDir()) {
            if (fi.fileName().startsWith(u'.') || fi.isSymLink()) continue;
            list.push_back({fi.absoluteFilePath(), 0, true});
            ListFolder(fi.absoluteFilePath() + u'/', list, total, seen);
        } else if (fi.isFile()) {
            const int64_t size = fi.size();
            list.push_back({fi.absoluteFilePath(), size, false});
            total += size;
        }
    }
}

bool FileIsBusy(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return true;
    bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!busy) {
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        busy = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
        ::flock(fd, LOCK_UN);
    }
    ::close(fd);
    return busy;
}
} // namespace

void ListFolderFiles(const QString& AFolder, std::vector<TFileItem>& AList, int64_t& ATotal)
{
    QString folder = Trim(AFolder);
    if (!folder.endsWith(u'/')) folder += u'/';
    std::set<std::pair<dev_t, ino_t>> seen;
    ListFolder(folder, AList, ATotal, seen);
}

bool IsFileInUse(const QString& APath)
{
    const QFileInfo fi(APath);
    if (fi.isDir()) {
        std::vector<TFileItem> items;
        int64_t total = 0;
        ListFolderFiles(APath, items, total);
        for (const auto& item : items)
            if (!item.IsDirectory && FileIsBusy(item.FileName)) return true;
        return false;
    }
    if (fi.isFile()) return FileIsBusy(APath);
    return false;
}

bool IsExecutableFile(const QString& AFileName)
{
    static const char16_t* const kExtensions[] = {
        u".exe", u".bat", u".cmd", u".scr", u".vbs", u".js", u".lnk", u".pif", u".msi",
        // What runs on a Linux desktop when opened.
        u".sh", u".bash", u".csh", u".ksh", u".zsh", u".desktop", u".run", u".bin", u".appimage", u".jar",
        u".py", u".pyc", u".pl", u".rb", u".php", u".elf", u".out", u".deb", u".rpm", u".flatpakref",
        u".com", u".cpl", u".ps1", u".wsf", u".hta", u".reg"};
    const QString name = Trim(AFileName);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0) return false;
    const QStringView ext = QStringView(name).mid(dot);
    for (const char16_t* e : kExtensions)
        if (SameText(ext, QStringView(e))) return true;
    return false;
}

bool ReadFileVersionInfo(const QString& AFileName, TFileVersionInfo& AInfo)
{
    if (!QCoreApplication::instance()) return false;
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString asked = QFileInfo(AFileName).canonicalFilePath();
    if (self.isEmpty() || asked != self) return false;
    const uint32_t ms = (uint32_t(PELVOX_VERSION_MAJOR) << 16) | uint32_t(PELVOX_VERSION_MINOR);
    const uint32_t ls = uint32_t(PELVOX_VERSION_PATCH) << 16;
    AInfo.FixedInfo = {0xFEEF04BDu, 0x00010000u, ms, ls, ms, ls, 0x3Fu, 0u, 0u, 1u, 0u, 0u, 0u};
    const QString version = QStringLiteral(PELVOX_VERSION_STRING);
    AInfo.CompanyName = QStringLiteral("Pelvox");
    AInfo.FileDescription = QStringLiteral("Pelvox");
    AInfo.FileVersion = version;
    AInfo.InternalName = QStringLiteral("quorvel");
    AInfo.OriginalFilename = QStringLiteral("quorvel");
    AInfo.ProductName = QStringLiteral("Pelvox");
    AInfo.ProductVersion = version;
    AInfo.LocalPort = QStringLiteral("66500");
    return true;
}

// ---- Texts ----------------------------------------------------------------

QByteArray URLEncode(const QByteArray& ABytes)
{
    static const char kHex[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(ABytes.size() * 3);
    for (char ch : ABytes) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '@' || c == '!' ||
            c == '$' || c == '\'' || c == '(' || c == ')' || c == '*' || c == '-' || c == '.' || c == '_') {
            out += char(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

QByteArray URLDecode(const QByteArray& ABytes)
{
    QByteArray out;
    out.reserve(ABytes.size());
    for (qsizetype i = 0; i < ABytes.size(); ++i) {
        const char c = ABytes[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 1 < ABytes.size() && ABytes[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (i + 2 >= ABytes.size()) return ABytes;
            const int hi = HexValue(ABytes[i + 1]), lo = HexValue(ABytes[i + 2]);
            if (hi < 0 || lo < 0) return ABytes;
            out += char(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

QString GetDateTimeStr(TDateTime ADateTime)
{
    return DateTimeToFields(ADateTime).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void TextToWideCharBuffer(char16_t* ABuffer, int ACount, const QString& AText)
{
    if (!ABuffer || ACount <= 0) return;
    std::fill(ABuffer, ABuffer + ACount, char16_t(0));
    const int n = std::min<int>(ACount, int(AText.size()));
    for (int i = 0; i < n; ++i) ABuffer[i] = AText[i].unicode();
}

// ---- Times ----------------------------------------------------------------

int GetTimeZoneBias(TDateTime ALocal, const QTimeZone& zone)
{
    const QDateTime fields = DateTimeToFields(ALocal);
    const QDateTime local(fields.date(), fields.time(), zone);
    return -local.offsetFromUtc() / 60;
}

TDateTime LocalTimeToUTC(TDateTime ADateTime, const QTimeZone& zone)
{
    return ADateTime + double(GetTimeZoneBias(ADateTime, zone)) / 1440.0;
}

TDateTime UTCToLocalTime(TDateTime ADateTime, const QTimeZone& zone)
{
    const QDateTime utc = DateTimeToFields(ADateTime);
    return ADateTime + double(zone.offsetFromUtc(utc)) / 86400.0;
}

// ---- Command line -----------------------------------------------------------

void SetCommandLineArguments(const QStringList& args)
{
    std::lock_guard l(gPathLock);
    gArgs = args;
    gArgsSet = true;
}

bool GetCmdLineSwitch(const QStringList& args, const QString& AName, QString& AValue)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a.size() != AName.size() + 1 || !(a.startsWith(u'-') || a.startsWith(u'/'))) continue;
        if (!SameText(QStringView(a).mid(1), AName)) continue;
        if (i + 1 < args.size()) {
            const QString& next = args[i + 1];
            if (!next.isEmpty() && !next.startsWith(u'-') && !next.startsWith(u'/')) AValue = next;
        }
        return true;
    }
    return false;
}

bool GetCmdLineSwitch(const QString& AName, QString& AValue)
{
    QStringList args;
    {
        std::lock_guard l(gPathLock);
        if (gArgsSet) args = gArgs;
    }
    if (args.isEmpty() && QCoreApplication::instance()) args = QCoreApplication::arguments().mid(1);
    return GetCmdLineSwitch(args, AName, AValue);
}

// ---- System ---------------------------------------------------------------

void TrimWorkingSet() { ::malloc_trim(0); }

void PlayWaveFile(const QString& AFileName)
{
    if (!QFileInfo(AFileName).isFile()) return;
    for (const char* player : {"paplay", "aplay"}) {
        const QString exe = QStandardPaths::findExecutable(QString::fromLatin1(player));
        if (exe.isEmpty()) continue;
        QStringList args;
        if (QLatin1String(player) == QLatin1String("aplay")) args << QStringLiteral("-q");
        args << AFileName;
        QProcess::startDetached(exe, args);
        return;
    }
}

} // namespace pelvox
