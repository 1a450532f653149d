#include "data/Client_Common.h"
#include "core/BitDocument.h"
#include "core/Client_Base.h"
#include "core/Client_PersonDownloads.h"
#include "core/MD5.h"
#include "data/Client_FaceImage.h"
#include "platform/DebugOutput.h"
#include "platform/Exception.h"
#include "platform/SafeFileName.h"
#include "platform/Text.h"
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSet>
#include <array>
#include <chrono>
#include <fcntl.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace pelvox {

// ---- Shared functions -------------------------------------------------------

void SwapBytePairs(void* ABuffer, int ALength)
{
    auto* p = static_cast<unsigned char*>(ABuffer);
    for (int i = 0; i + 1 < ALength; i += 2) std::swap(p[i], p[i + 1]);
}

QString GetIdeSerialNumber()
{
    // The identify data of the first disk: its serial number words at byte 20.
    for (const char* dev : {"/dev/sda", "/dev/hda", "/dev/nvme0n1"}) {
        const int fd = ::open(dev, O_RDONLY | O_NONBLOCK);
        if (fd < 0) continue;
        std::array<unsigned char, 512> id{};
        const bool ok = ::ioctl(fd, HDIO_GET_IDENTITY, id.data()) == 0;
        ::close(fd);
        if (!ok) return {};
        unsigned char serial[20];
        std::memcpy(serial, id.data() + 20, sizeof serial);
        SwapBytePairs(serial, sizeof serial);
        return Trim(QString::fromLocal8Bit(reinterpret_cast<const char*>(serial), sizeof serial));
    }
    return {};
}

std::recursive_mutex& OtherUserCacheLock()
{
    static std::recursive_mutex lock;
    return lock;
}

QString OtherUserCacheFileName(int32_t AUserId)
{
    return MD5TextToHex(QString::number(AUserId), true) + QStringLiteral(".cache");
}

QString OtherUserCacheFile(int32_t AUserId)
{
    return GetAppRoot() + QStringLiteral("Temp/Users/") + OtherUserCacheFileName(AUserId);
}

namespace {
// A folder below the application root, remembered per thread until the root changes.
struct TRootFolder {
    const char16_t* Sub;
    QString Root, Folder;
    const QString& Get()
    {
        const QString r = GetAppRoot();
        if (r != Root) {
            Root = r;
            Folder = r + QString::fromUtf16(Sub);
        }
        return Folder;
    }
};
const QString& FacesFolder()
{
    thread_local TRootFolder folder{u"Temp/Faces", {}, {}};
    return folder.Get();
}
const QString& PhotosFolder()
{
    thread_local TRootFolder folder{u"Temp/Photos", {}, {}};
    return folder.Get();
}
} // namespace

// ---- Local file snapshot -----------------------------------------------------

struct TLocalFileSnapshot::TNames {
    QSet<QString> Users, Faces, Photos;
};

TLocalFileSnapshot TLocalFileSnapshot::Take()
{
    auto names = std::make_shared<TNames>();
    auto list = [](const QString& folder, QSet<QString>& into) {
        const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
        into = QSet<QString>(files.begin(), files.end());
    };
    const QString root = GetAppRoot();
    list(root + QStringLiteral("Temp/Users"), names->Users);
    list(root + QStringLiteral("Temp/Faces"), names->Faces);
    list(root + QStringLiteral("Temp/Photos"), names->Photos);
    TLocalFileSnapshot s;
    s.Valid = true;
    s.Names = std::move(names);
    return s;
}

bool TLocalFileSnapshot::HasCache(const QString& AName) const { return Names->Users.contains(AName); }
bool TLocalFileSnapshot::HasFace(const QString& AName) const { return Names->Faces.contains(AName); }
bool TLocalFileSnapshot::HasPhoto(const QString& AName) const { return Names->Photos.contains(AName); }

// ---- Profile fields ------------------------------------------------------------

enum class TFieldKind : uint8_t { Text, Int16, Int32, Sex, Status, Float };

struct TPersonFields {
    struct TField {
        const char16_t* Key;
        TFieldKind Kind;
        QString TOtherUser::*Text = nullptr;
        int32_t TOtherUser::*Int = nullptr;
    };
    static const std::array<TField, 40>& Profile()
    {
        using U = TOtherUser;
        using K = TFieldKind;
        static const std::array<TField, 40> table = {{
            {u"nickname", K::Text, &U::FNickName},
            {u"signature", K::Text, &U::FSignature},
            {u"actualname", K::Text, &U::FActualName},
            {u"sex", K::Sex},
            {u"age", K::Int16, nullptr, &U::FAge},
            {u"birth_year", K::Int16, nullptr, &U::FBirth_Year},
            {u"birth_month", K::Int16, nullptr, &U::FBirth_Month},
            {u"birth_day", K::Int16, nullptr, &U::FBirth_Day},
            {u"country", K::Int16, nullptr, &U::FCountry},
            {u"province", K::Int16, nullptr, &U::FProvince},
            {u"city", K::Int16, nullptr, &U::FCity},
            {u"area", K::Int16, nullptr, &U::FArea},
            {u"address", K::Text, &U::FAddress},
            {u"telephone", K::Text, &U::FTelephone},
            {u"telephone_short", K::Text, &U::FTelephone_Short},
            {u"telephone2", K::Text, &U::FTelephone2},
            {u"telephone2_short", K::Text, &U::FTelephone2_Short},
            {u"mobile", K::Text, &U::FMobile},
            {u"mobile_short", K::Text, &U::FMobile_Short},
            {u"mobile2", K::Text, &U::FMobile2},
            {u"mobile2_short", K::Text, &U::FMobile2_Short},
            {u"fax", K::Text, &U::FFax},
            {u"qq", K::Text, &U::FQQ},
            {u"weixin", K::Text, &U::FWeixin},
            {u"weibo", K::Text, &U::FWeibo},
            {u"email", K::Text, &U::FEmail},
            {u"roomname", K::Text, &U::FRoomName},
            {u"roomnumber", K::Text, &U::FRoomNumber},
            {u"idnumber", K::Text, &U::FIdNumber},
            {u"carnumber", K::Text, &U::FCarNumber},
            {u"homepage", K::Text, &U::FHomepage},
            {u"departid", K::Int32, nullptr, &U::FDepartId},
            {u"departname", K::Text, &U::FDepartName},
            {u"jobtitle", K::Text, &U::FJobTitle},
            {u"jobnumber", K::Text, &U::FJobNumber},
            {u"introduction", K::Text, &U::FIntroduction},
            {u"facefile", K::Text, &U::FFaceFile},
            {u"photofile", K::Text, &U::FPhotoFile},
            {u"loginstatus", K::Status},
            {u"modifytime", K::Float},
        }};
        return table;
    }
    static size_t End(TProfileRange r)
    {
        switch (r) {
        case TProfileRange::InfoPush: return 36;
        case TProfileRange::UserDoc: return 39;
        case TProfileRange::Full: return 40;
        }
        return 0;
    }

    static void Read(TOtherUser& u, const TField& f, const TBitNode& n)
    {
        switch (f.Kind) {
        case TFieldKind::Text: u.*f.Text = n.ToString(); break;
        case TFieldKind::Int16: u.*f.Int = n.ToInt16(); break;
        case TFieldKind::Int32: u.*f.Int = n.ToInt32(); break;
        case TFieldKind::Sex: u.FSex = SexFromWire(n.ToInt16()); break;
        case TFieldKind::Status: u.SetLoginStatus(LoginStatusFromWire(n.ToUInt8())); break;
        case TFieldKind::Float: u.FModifyTime = n.ToFloat64(); break;
        }
    }
    static void Copy(TOtherUser& d, const TOtherUser& s, const TField& f)
    {
        switch (f.Kind) {
        case TFieldKind::Text: d.*f.Text = s.*f.Text; break;
        case TFieldKind::Int16:
        case TFieldKind::Int32: d.*f.Int = s.*f.Int; break;
        case TFieldKind::Sex: d.FSex = s.FSex; break;
        case TFieldKind::Status: d.SetLoginStatus(s.FLoginStatus); break;
        case TFieldKind::Float: d.FModifyTime = s.FModifyTime; break;
        }
    }
    static void Write(const TOtherUser& u, const TField& f, TBitNode& root)
    {
        const QString key = QString::fromUtf16(f.Key);
        switch (f.Kind) {
        case TFieldKind::Text: root.AddStringNode(key, u.*f.Text); break;
        case TFieldKind::Int16: root.AddInt16Node(key, int16_t(u.*f.Int)); break;
        case TFieldKind::Int32: root.AddInt32Node(key, u.*f.Int); break;
        case TFieldKind::Sex: root.AddInt16Node(key, int16_t(u.FSex)); break;
        case TFieldKind::Status: root.AddInt16Node(key, int16_t(u.FLoginStatus)); break;
        case TFieldKind::Float: root.AddFloat64Node(key, u.FModifyTime); break;
        }
    }
};

void ReadProfileFields(TOtherUser& AUser, const TBitNode& ARoot, TProfileRange ARange)
{
    const auto& table = TPersonFields::Profile();
    for (size_t i = 0; i < TPersonFields::End(ARange); ++i)
        if (const TBitNode* n = ARoot.ChildNodes().FindNode(table[i].Key)) TPersonFields::Read(AUser, table[i], *n);
}

void ReadProfileFieldsStrict(TOtherUser& AUser, const TBitNode& ARoot, TProfileRange ARange)
{
    const auto& table = TPersonFields::Profile();
    for (size_t i = 0; i < TPersonFields::End(ARange); ++i) {
        const TBitNode* n = ARoot.ChildNodes().FindNode(table[i].Key);
        if (!n) throw Exception(QStringLiteral("Node not found: ") + QString::fromUtf16(table[i].Key));
        TPersonFields::Read(AUser, table[i], *n);
    }
}

void CopyProfileFields(TOtherUser& ADest, const TOtherUser& ASource, TProfileRange ARange)
{
    const auto& table = TPersonFields::Profile();
    for (size_t i = 0; i < TPersonFields::End(ARange); ++i) TPersonFields::Copy(ADest, ASource, table[i]);
}

// ---- TOtherUser -------------------------------------------------------------------

TOtherUser::TOtherUser() = default;
TOtherUser::~TOtherUser() = default;

void TOtherUser::SetLoginStatus(TLoginStatus AValue)
{
    const TLoginStatus old = FLoginStatus;
    FLoginStatus = AValue;
    if (old != AValue) LoginStatusChanged(old, AValue);
}

QString TOtherUser::GetShowName(bool AShowUserId) const
{
    if (!AShowUserId) return FNickName;
    return FNickName + u'(' + FUserName + u')';
}

void TOtherUser::WriteCacheDocument(TBitDocument& ADoc) const
{
    TBitNode& root = *ADoc.Root();
    root.AddInt32Node(QStringLiteral("userid"), FUserId);
    root.AddStringNode(QStringLiteral("username"), FUserName);
    root.AddInt16Node(QStringLiteral("usertype"), FUserType);
    for (const auto& f : TPersonFields::Profile()) TPersonFields::Write(*this, f, root);
}

void TOtherUser::ReadCacheDocument(const TBitDocument& ADoc)
{
    ReadProfileFields(*this, *ADoc.Root(), TProfileRange::Full);
}

void TOtherUser::LoadFromCache(int32_t AUserId)
{
    LoadFromCache(AUserId, TLocalFileSnapshot{});
}

void TOtherUser::LoadFromCache(int32_t AUserId, const TLocalFileSnapshot& ASnapshot)
{
    std::lock_guard guard(OtherUserCacheLock());
    const QString name = OtherUserCacheFileName(AUserId);
    if (ASnapshot.Valid && !ASnapshot.HasCache(name)) return;
    const QString path = GetAppRoot() + QStringLiteral("Temp/Users/") + name;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return;
    const QByteArray bytes = file.readAll();
    file.close();
    TBitDocument doc;
    try {
        doc.LoadFromBytes(bytes);
    } catch (const std::exception& e) {
        // A damaged cache costs only the cached profile: drop it and go on.
        DebugOutput(QStringLiteral("Damaged person cache %1 removed: %2").arg(path, ExceptionMessage(e)));
        QFile::remove(path);
        return;
    }
    ReadCacheDocument(doc);
}

void TOtherUser::SaveToCache()
{
    std::lock_guard guard(OtherUserCacheLock());
    if (FUserId <= 0) return;
    TBitDocument doc;
    WriteCacheDocument(doc);
    QSaveFile file(OtherUserCacheFile(FUserId));
    if (!file.open(QIODevice::WriteOnly) || file.write(doc.SaveToBytes()) < 0 || !file.commit())
        throw Exception(QStringLiteral("Cannot write the person cache of %1").arg(FUserId));
}

QString TOtherUser::GetLocalFaceFile() const { return SafeJoin(FacesFolder(), FFaceFile); }
QString TOtherUser::GetLocalPhotoFile() const { return SafeJoin(PhotosFolder(), FPhotoFile); }

bool TOtherUser::FaceFileLoss() const
{
    const QString path = GetLocalFaceFile();
    return !path.isEmpty() && !QFile::exists(path);
}

bool TOtherUser::PhotoFileLoss() const
{
    const QString path = GetLocalPhotoFile();
    return !path.isEmpty() && !QFile::exists(path);
}

bool TOtherUser::FaceFileLoss(const TLocalFileSnapshot& S) const
{
    if (!S.Valid) return FaceFileLoss();
    return IsSafeFileName(FFaceFile) && !S.HasFace(FFaceFile);
}

bool TOtherUser::PhotoFileLoss(const TLocalFileSnapshot& S) const
{
    if (!S.Valid) return PhotoFileLoss();
    return IsSafeFileName(FPhotoFile) && !S.HasPhoto(FPhotoFile);
}

void TOtherUser::TryDownloadFaceFile(bool AForce)
{
    if (!IsSafeFileName(FFaceFile)) return; // an unusable name means no face
    if (!AForce && !FaceFileLoss()) return;
    if (IPersonDownloads* d = PersonDownloads()) d->DownloadFaceFile(FUserId, FFaceFile);
}

void TOtherUser::TryDownloadPhotoFile(bool AForce)
{
    if (!IsSafeFileName(FPhotoFile)) return;
    if (!AForce && !PhotoFileLoss()) return;
    if (IPersonDownloads* d = PersonDownloads()) d->DownloadPhotoFile(FUserId, FPhotoFile);
}

void TOtherUser::RebuildFaceImage() { RebuildFaceImage(nullptr); }

bool TOtherUser::RebuildFaceImage(const TLocalFileSnapshot* ASnapshot)
{
    std::lock_guard guard(OtherUserCacheLock());
    ApplyFaceImage(nullptr);
    const uint32_t generation = ++FFaceGeneration;
    const QString path = GetLocalFaceFile();
    if (path.isEmpty()) return false;
    if (ASnapshot && ASnapshot->Valid ? !ASnapshot->HasFace(FFaceFile) : !QFile::exists(path)) return false;
    if (auto shared = TFaceDecoder::Cached(path)) {
        ApplyFaceImage(std::move(shared));
        return true;
    }
    std::weak_ptr<TOtherUser> self = weak_from_this();
    if (self.expired()) {
        // A record nobody owns (a one-answer temporary) decodes in place.
        ApplyFaceImage(TFaceImageData::Load(path));
        return true;
    }
    TFaceDecoder::DecodeAsync(path, [self, generation](std::shared_ptr<const TFaceImageData> face) {
        auto user = self.lock();
        if (!user || user->FFaceGeneration != generation) return; // a newer rebuild won
        user->ApplyFaceImage(std::move(face));
    });
    return true;
}

void TOtherUser::ApplyFaceImage(std::shared_ptr<const TFaceImageData> AFace)
{
    FFace = std::move(AFace);
    FGifFrameIndex = 0;
    FGifPlayWaitTime = 0;
    FGifLastTickCount = FFace ? TickCount() : 0;
}

bool TOtherUser::FaceImageIsGif() const { return FFace && FFace->IsGif; }
uint32_t TOtherUser::GifFrameCount() const { return FFace && FFace->IsGif ? uint32_t(FFace->Frames.size()) : 0; }

uint64_t TOtherUser::TickCount()
{
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool TOtherUser::NextFaceImageFrame() { return NextFaceImageFrame(TickCount()); }

bool TOtherUser::NextFaceImageFrame(uint64_t ANowTick)
{
    if (!FFace || !FFace->IsGif || FFace->Frames.empty()) return false;
    FGifPlayWaitTime += uint32_t(ANowTick - FGifLastTickCount);
    FGifLastTickCount = ANowTick;
    // Delays are kept in hundredths; a frame stays 7 x its value in milliseconds.
    if (FGifPlayWaitTime < 7 * FFace->FrameDelays[FGifFrameIndex]) return false;
    FGifPlayWaitTime = 0;
    FGifFrameIndex = uint32_t((FGifFrameIndex + 1) % FFace->Frames.size());
    return true;
}

void TOtherUser::ResetFaceImageFrame()
{
    if (!FFace || !FFace->IsGif || FGifFrameIndex == 0) return;
    FGifFrameIndex = 0;
}

namespace {
const QImage& NoImage()
{
    static const QImage none;
    return none;
}
} // namespace

const QImage& TOtherUser::ActiveFaceImage40x40() const { return FFace ? FFace->Frames40[FGifFrameIndex] : NoImage(); }
const QImage& TOtherUser::ActiveFaceImage20x20() const { return FFace ? FFace->Frames20[FGifFrameIndex] : NoImage(); }
const QImage& TOtherUser::GrayFaceImage40x40() const { return FFace ? FFace->Gray40 : NoImage(); }
const QImage& TOtherUser::GrayFaceImage20x20() const { return FFace ? FFace->Gray20 : NoImage(); }

QImage TOtherUser::CreateFaceIcon() const
{
    const QImage& picture = FFace ? FFace->Frames[FGifFrameIndex]
                                  : DefaultSmallFace(FSex == usWomen, !IsOnlineStatus(FLoginStatus));
    if (picture.isNull()) return {};
    return picture.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

} // namespace pelvox
