// The requests with which the signed-in user changes his own account, and
// the face and photo uploads.
#include "core/Client_CurrentUserRequests.h"
#include "core/BitDocument.h"
#include "core/Client_Base.h"
#include "core/Client_BindingEvents.h"
#include "core/Client_CurrentUser.h"
#include "core/Client_GlobalClient.h"
#include "core/Client_PersonDownloads.h"
#include "platform/DebugOutput.h"
#include "platform/SafeFileName.h"
#include "platform/Sync.h"
#include "platform/Text.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace pelvox {

namespace {

// One node of "Users.ChangeUserInfo": a text with its cut, or an Int16.
struct TInfoNode {
    const char* Name;
    QString TUserInfoChangeItems::*Text;
    int Limit;
    int32_t TUserInfoChangeItems::*Number;
};

using I = TUserInfoChangeItems;
constexpr TInfoNode S(const char* n, QString I::*f, int limit) { return {n, f, limit, nullptr}; }
constexpr TInfoNode N(const char* n, int32_t I::*f) { return {n, nullptr, 0, f}; }

// In wire order.
const TInfoNode kInfoNodes[] = {
    S("nickname", &I::NickName, 20),
    S("signature", &I::Signature, 120),
    S("actualname", &I::ActualName, 20),
    N("sex", &I::Sex),
    N("age", &I::Age),
    N("birth_year", &I::Birth_Year),
    N("birth_month", &I::Birth_Month),
    N("birth_day", &I::Birth_Day),
    N("country", &I::Country),
    N("province", &I::Province),
    N("city", &I::City),
    N("area", &I::Area),
    S("address", &I::Address, 50),
    S("telephone", &I::Telephone, 20),
    S("telephone_short", &I::Telephone_Short, 20),
    S("telephone2", &I::Telephone2, 20),
    S("telephone2_short", &I::Telephone2_Short, 20),
    S("mobile", &I::Mobile, 20),
    S("mobile_short", &I::Mobile_Short, 20),
    S("mobile2", &I::Mobile2, 20),
    S("mobile2_short", &I::Mobile2_Short, 20),
    S("fax", &I::Fax, 20),
    S("qq", &I::QQ, 20),
    S("weixin", &I::Weixin, 50),
    S("weibo", &I::Weibo, 50),
    S("email", &I::Email, 50),
    S("roomname", &I::RoomName, 50),
    S("roomnumber", &I::RoomNumber, 50),
    S("idnumber", &I::IdNumber, 50),
    S("carnumber", &I::CarNumber, 50),
    S("homepage", &I::Homepage, 80),
    S("introduction", &I::Introduction, 120),
};

QString TrimCut(const QString& AValue, int ALimit) { return CutText(Trim(AValue), ALimit); }

void PostToUIThread(std::function<void()> AFn)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(AFn), Qt::QueuedConnection);
}

QString FailEvent(bool AFace)
{
    return AFace ? QStringLiteral("Client:OnChangeFaceFileFailed") : QStringLiteral("Client:OnChangePhotoFileFailed");
}

} // namespace

void BuildChangeUserInfoRequest(TBitDocument& ADoc, const TUserInfoChangeItems& AItems)
{
    TBitNode* r = ADoc.Root();
    for (const TInfoNode& n : kInfoNodes) {
        const QString name = QString::fromLatin1(n.Name);
        if (n.Text)
            r->AddStringNode(name, TrimCut(AItems.*n.Text, n.Limit));
        else
            r->AddInt16Node(name, int16_t(AItems.*n.Number));
    }
}

void BuildChangeSignatureRequest(TBitDocument& ADoc, const QString& AValue)
{
    ADoc.Root()->AddStringNode(QStringLiteral("signature"), TrimCut(AValue, 120));
}

void BuildUpdateJoinSettingRequest(TBitDocument& ADoc, int16_t AOnlyFindMeById, int16_t AJoinSetting,
                                   const QString& AJoinQuestion, const QString& AJoinAnswer)
{
    TBitNode* r = ADoc.Root();
    r->AddInt16Node(QStringLiteral("onlyfindmebyid"), AOnlyFindMeById);
    r->AddInt16Node(QStringLiteral("joinsetting"), AJoinSetting);
    // Question and answer keep their blanks: only the length is limited.
    r->AddStringNode(QStringLiteral("joinquestion"), CutText(AJoinQuestion, 50));
    r->AddStringNode(QStringLiteral("joinanswer"), CutText(AJoinAnswer, 50));
}

TUploadOutcome RunUpload(const TUploadJob& AJob)
{
    TUploadOutcome out;
    TSubCmdObject sub(AJob.Endpoint);
    TBitDocument& req = sub.Request();
    req.SetName(AJob.Face ? QStringLiteral("Users.ChangeFaceFile") : QStringLiteral("Users.ChangePhotoFile"));
    req.Root()->AddInt32Node(QStringLiteral("userid"), AJob.UserId);
    req.Root()->AddStringNode(QStringLiteral("filename"), AJob.FileName);
    req.Root()->AddBinaryNode(QStringLiteral("filedata"), AJob.Data);
    if (!sub.Execute(true, 3500)) return out;
    out.ErrorCode = sub.Response().ReadInt32(u"errorcode", -1);
    if (out.ErrorCode != 0) {
        out.Reason = ufrRefused;
        return out;
    }
    out.ServerFileName = sub.Response().ReadString(AJob.Face ? u"facefile" : u"photofile");
    out.Ok = true;
    sub.Disconnect();
    // Our own copy, so the new face shows without a download; a name that is
    // not a plain file name is not written anywhere.
    const QString folder = GetAppRoot() + (AJob.Face ? QStringLiteral("Temp/Faces") : QStringLiteral("Temp/Photos"));
    const QString local = SafeJoin(folder, out.ServerFileName);
    if (!local.isEmpty()) {
        QDir().mkpath(folder);
        QSaveFile f(local);
        if (!(f.open(QIODevice::WriteOnly) && f.write(AJob.Data) == AJob.Data.size() && f.commit()))
            DebugOutput(QStringLiteral("Cannot write %1").arg(local));
    }
    return out;
}

// ---- TCurrentUser: requests ----------------------------------------------------------------

TCurrentUser::~TCurrentUser()
{
    // TWorkerThread's destructor waits while serving the UI thread's queue.
    FChangeFaceFileThread.reset();
    FChangePhotoFileThread.reset();
}

void TCurrentUser::SendRequest(TBitDocument& ADoc)
{
    if (FClient && FClient->Logined()) FClient->SendMainCmdData(ADoc, false);
}

void TCurrentUser::ChangeUserInfo(const TUserInfoChangeItems& AChangeItems)
{
    TBitDocument doc(QStringLiteral("Users.ChangeUserInfo"));
    BuildChangeUserInfoRequest(doc, AChangeItems);
    SendRequest(doc);
}

void TCurrentUser::ChangeSignature(const QString& AValue)
{
    TBitDocument doc(QStringLiteral("Users.ChangeSignature"));
    BuildChangeSignatureRequest(doc, AValue);
    SendRequest(doc);
}

void TCurrentUser::ChangePassword(const QString& AOldMd5Pwd, const QString& ANewMd5Pwd, const QString& ANewPassword)
{
    (void)ANewPassword; // the typed text is neither sent nor kept
    if (!FClient || !FClient->Logined()) return;
    FTempNewPassword = ANewMd5Pwd;
    TBitDocument doc(QStringLiteral("Users.ChangePassword"));
    doc.Root()->AddStringNode(QStringLiteral("oldpassword"), AOldMd5Pwd);
    doc.Root()->AddStringNode(QStringLiteral("newpassword"), ANewMd5Pwd);
    SendRequest(doc);
}

void TCurrentUser::ChangeLinkDepart(int32_t linkdepartid)
{
    TBitDocument doc(QStringLiteral("Users.ChangeLinkDepart"));
    doc.Root()->AddInt32Node(QStringLiteral("linkdepartid"), linkdepartid);
    SendRequest(doc);
}

void TCurrentUser::UpdateJoinSetting(int16_t onlyfindmebyid, int16_t joinsetting, const QString& joinquestion,
                                     const QString& joinanswer)
{
    TBitDocument doc(QStringLiteral("Users.UpdateUserJoinSetting"));
    BuildUpdateJoinSettingRequest(doc, onlyfindmebyid, joinsetting, joinquestion, joinanswer);
    SendRequest(doc);
}

void TCurrentUser::GetPwdProtection()
{
    TBitDocument doc(QStringLiteral("Users.GetPwdProtection"));
    SendRequest(doc);
}

void TCurrentUser::SetPwdProtection(const QString& AQuestion1, const QString& AAnswer1, const QString& AQuestion2,
                                    const QString& AAnswer2, const QString& AQuestion3, const QString& AAnswer3)
{
    TBitDocument doc(QStringLiteral("Users.SetPwdProtection"));
    TBitNode* r = doc.Root();
    r->AddStringNode(QStringLiteral("question1"), AQuestion1);
    r->AddStringNode(QStringLiteral("answer1"), AAnswer1);
    r->AddStringNode(QStringLiteral("question2"), AQuestion2);
    r->AddStringNode(QStringLiteral("answer2"), AAnswer2);
    r->AddStringNode(QStringLiteral("question3"), AQuestion3);
    r->AddStringNode(QStringLiteral("answer3"), AAnswer3);
    SendRequest(doc);
}

void TCurrentUser::ValidatePwdProtection(const QString& AAnswer1, const QString& AAnswer2, const QString& AAnswer3)
{
    TBitDocument doc(QStringLiteral("Users.ValidatePwdProtection"));
    TBitNode* r = doc.Root();
    r->AddStringNode(QStringLiteral("answer1"), AAnswer1);
    r->AddStringNode(QStringLiteral("answer2"), AAnswer2);
    r->AddStringNode(QStringLiteral("answer3"), AAnswer3);
    SendRequest(doc);
}

bool TCurrentUser::CheckSMSLimit()
{
    if (FSMSTotal < 0) {
        RaiseEvent(QStringLiteral("Client:OnSMSError"), 1);
        return false;
    }
    if (FSMSTotalSended >= FSMSTotal) {
        RaiseEvent(QStringLiteral("Client:OnSMSError"), 2);
        return false;
    }
    if (FSMSDayLimit <= 0) {
        ++FSMSTotalSended;
        return true;
    }
    const TDateTime now = NowLocal();
    if (now >= FSMSDayStart + 1.0) {
        FSMSDayStart = now;
        FSMSDaySended = 0;
    }
    if (FSMSDaySended + 1 > FSMSDayLimit) {
        RaiseEvent(QStringLiteral("Client:OnSMSError"), 3);
        return false;
    }
    ++FSMSDaySended;
    ++FSMSTotalSended;
    return true;
}

// ---- TCurrentUser: uploads -----------------------------------------------------------------

void TCurrentUser::ChangeFaceFile(const QString& AFileName) { StartUpload(true, AFileName); }
void TCurrentUser::ChangePhotoFile(const QString& AFileName) { StartUpload(false, AFileName); }

bool TCurrentUser::UploadRunning() const
{
    return (FChangeFaceFileThread && !FChangeFaceFileThread->Finished()) ||
           (FChangePhotoFileThread && !FChangePhotoFileThread->Finished());
}

void TCurrentUser::StartUpload(bool AFace, const QString& AFileName)
{
    if (!FClient || !FClient->Logined()) return;
    std::unique_ptr<TWorkerThread>& slot = AFace ? FChangeFaceFileThread : FChangePhotoFileThread;
    // The wait serves the UI queue, so a handler may start another upload
    // meanwhile: the slot is emptied first and checked again after.
    while (slot) {
        std::unique_ptr<TWorkerThread> running = std::move(slot);
        running->WaitFor();
    }
    // The user is told why nothing was sent instead of a silent drop.
    const QFileInfo info(AFileName);
    const qint64 limit = AFace ? MAX_FACE_FILE_SIZE : MAX_PHOTO_FILE_SIZE;
    if (AFileName.isEmpty() || !info.isFile()) {
        RaiseEvent(FailEvent(AFace), ufrFileMissing);
        return;
    }
    if (info.size() > limit) {
        RaiseEvent(FailEvent(AFace), ufrTooLarge);
        return;
    }
    QFile file(AFileName);
    TUploadJob job;
    if (file.open(QIODevice::ReadOnly)) job.Data = file.read(limit + 1);
    if (!file.isOpen() || file.error() != QFileDevice::NoError) {
        RaiseEvent(FailEvent(AFace), ufrFileMissing);
        return;
    }
    if (job.Data.size() > limit) { // grew since it was measured
        RaiseEvent(FailEvent(AFace), ufrTooLarge);
        return;
    }
    job.Face = AFace;
    job.UserId = FUserId;
    job.FileName = info.fileName();
    job.Endpoint.Address = FClient->MainCmdSocket().ServerAddress();
    job.Endpoint.Port = FClient->ServerInfo().Port_SubCmd();
    if (!FAlive) FAlive = std::make_shared<TCurrentUser*>(this);
    std::weak_ptr<TCurrentUser*> alive = FAlive;

    slot = std::make_unique<TWorkerThread>([job = std::move(job), alive](TWorkerThread&) {
        const TUploadOutcome out = RunUpload(job);
        // The record, the lists and the events change on the UI thread; the
        // worker never waits for it.
        PostToUIThread([job, out, alive] {
            const std::shared_ptr<TCurrentUser*> self = alive.lock();
            if (!self) return;
            TCurrentUser& me = **self;
            if (!out.Ok) {
                RaiseEvent(FailEvent(job.Face), out.Reason, uintptr_t(uint32_t(out.ErrorCode)));
                return;
            }
            if (job.Face)
                me.SetFaceFile(out.ServerFileName);
            else
                me.SetPhotoFile(out.ServerFileName);
            if (job.Face) {
                if (IPersonDownloads* d = PersonDownloads()) d->RebuildUserFaces(job.UserId);
                RaiseEvent(QStringLiteral("Client:OnOtherUserFaceChanged"), uintptr_t(uint32_t(job.UserId)));
            } else {
                RaiseEvent(QStringLiteral("Client:OnOtherUserPhotoChanged"), uintptr_t(uint32_t(job.UserId)));
            }
        });
    });
}

} // namespace pelvox
