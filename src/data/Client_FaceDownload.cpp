#include "data/Client_FaceDownload.h"
#include "core/Client_Base.h"
#include "core/Client_BindingEvents.h"
#include "core/Client_GlobalClient.h"
#include "core/Client_SubCmdObjects.h"
#include "data/Client_Managers.h"
#include "platform/DebugOutput.h"
#include "platform/SafeFileName.h"
#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>

namespace pelvox {

namespace {

// Runs on the user-interface thread later; never waits for it.
void PostToUIThread(std::function<void()> AFn)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(AFn), Qt::QueuedConnection);
}

bool WriteAtomically(const QString& APath, const QByteArray& ABytes)
{
    if (APath.isEmpty()) return false;
    QSaveFile f(APath);
    return f.open(QIODevice::WriteOnly) && f.write(ABytes) == ABytes.size() && f.commit();
}

} // namespace

// ---- download thread -------------------------------------------------------------------

TFileDownloadThread::TFileDownloadThread(TKind AKind) : FKind(AKind)
{
    FThread = std::make_unique<TWorkerThread>([this](TWorkerThread& t) { Run(t); });
}

TFileDownloadThread::~TFileDownloadThread()
{
    FThread->Terminate();
    FDownloadEvent.SetEvent();
    FThread->WaitFor();
}

void TFileDownloadThread::AddDownloadTask(int32_t AUserId, const QString& AFileName)
{
    {
        std::lock_guard guard(FLock);
        auto it = std::find_if(FTasks.begin(), FTasks.end(), [&](const TTask& t) { return t.UserId == AUserId; });
        if (it == FTasks.end())
            FTasks.push_back({AUserId, AFileName, 0});
        else
            it->FileName = AFileName; // the newest face wins
    }
    FDownloadEvent.SetEvent();
}

size_t TFileDownloadThread::QueuedCount() const
{
    std::lock_guard guard(FLock);
    return FTasks.size();
}

void TFileDownloadThread::Run(TWorkerThread& AThread)
{
    while (!AThread.Terminated()) {
        FDownloadEvent.WaitFor(kInfinite);
        FDownloadEvent.ResetEvent();
        while (!AThread.Terminated()) {
            TTask task;
            {
                std::lock_guard guard(FLock);
                if (FTasks.empty()) break;
                task = FTasks.front();
            }
            const bool done = Download(task);
            std::lock_guard guard(FLock);
            auto it = std::find_if(FTasks.begin(), FTasks.end(),
                                   [&](const TTask& t) { return t.UserId == task.UserId; });
            if (it == FTasks.end()) continue;
            if (it->FileName != task.FileName) {
                // A newer name arrived meanwhile: serve it as a fresh task.
                TTask newer{it->UserId, it->FileName, 0};
                FTasks.erase(it);
                FTasks.push_back(newer);
                continue;
            }
            TTask current = *it;
            FTasks.erase(it);
            if (!done && ++current.TryTimes < 3) FTasks.push_back(current);
        }
    }
}

bool TFileDownloadThread::Download(const TTask& ATask)
{
    const bool face = FKind == TKind::Face;
    const QString folder = GetAppRoot() + (face ? QStringLiteral("Temp/Faces") : QStringLiteral("Temp/Photos"));
    const QString path = SafeJoin(folder, ATask.FileName);
    if (path.isEmpty()) return true; // not a plain name: nothing to fetch, nothing to retry

    TSubCmdEndpoint endpoint;
    uint32_t ownId = 0;
    bool ok = UIThread::Send([&] {
        TGlobalClient* c = GlobalClient();
        if (!c || !c->Logined()) return;
        endpoint.Address = c->MainCmdSocket().ServerAddress();
        endpoint.LocalPort = 0;
        endpoint.Port = c->ServerInfo().Port_SubCmd();
        ownId = c->CurrentUserId();
    });
    if (!ok || endpoint.Address.isEmpty()) return false;

    TSubCmdObject sub(endpoint);
    TBitDocument& req = sub.Request();
    req.SetName(face ? QStringLiteral("Users.DownloadFaceFile") : QStringLiteral("Users.DownloadPhotoFile"));
    req.Root()->AddInt32Node(QStringLiteral("userid"), int32_t(ownId));
    req.Root()->AddInt32Node(QStringLiteral("otheruserid"), ATask.UserId);
    req.Root()->AddStringNode(QStringLiteral("filename"), ATask.FileName);
    if (!sub.Execute(true, 3500) || sub.Response().ReadInt32(u"errorcode", -1) != 0) return false;
    const QByteArray bytes = sub.Response().ReadBinary(face ? u"facefile_data" : u"photofile_data");
    sub.Disconnect();
    // A file that cannot be written is not reported as arrived.
    if (!WriteAtomically(path, bytes)) {
        DebugOutput(QStringLiteral("Cannot write %1").arg(path));
        return false;
    }
    const int32_t id = ATask.UserId;
    PostToUIThread([face, id] {
        if (face) {
            if (IPersonDownloads* d = PersonDownloads()) d->RebuildUserFaces(id);
            RaiseEvent(QStringLiteral("Client:OnOtherUserFaceChanged"), uintptr_t(uint32_t(id)));
        } else {
            RaiseEvent(QStringLiteral("Client:OnOtherUserPhotoChanged"), uintptr_t(uint32_t(id)));
        }
    });
    return true;
}

// ---- TPersonDownloads ------------------------------------------------------------------------

TPersonDownloads::TPersonDownloads() = default;
TPersonDownloads::~TPersonDownloads() { StopThreads(); }

void TPersonDownloads::StartThreads()
{
    if (!FFaceThread) FFaceThread = std::make_unique<TFileDownloadThread>(TFileDownloadThread::TKind::Face);
    if (!FPhotoThread) FPhotoThread = std::make_unique<TFileDownloadThread>(TFileDownloadThread::TKind::Photo);
}

void TPersonDownloads::StopThreads()
{
    FFaceThread.reset();
    FPhotoThread.reset();
}

void TPersonDownloads::ClearDelayList()
{
    std::lock_guard guard(FDelayLock);
    FDelayDownItemList.clear();
    FDelayIndex.clear();
}

size_t TPersonDownloads::DelayCount() const
{
    std::lock_guard guard(FDelayLock);
    return FDelayDownItemList.size();
}

void TPersonDownloads::DelayDown(int32_t AUserId, bool AUserInfo, const QString& AFaceFile, const QString& APhotoFile)
{
    std::lock_guard guard(FDelayLock);
    auto it = FDelayIndex.find(AUserId);
    if (it == FDelayIndex.end()) {
        FDelayDownItemList.push_back({AUserId, AUserInfo, AFaceFile, APhotoFile});
        FDelayIndex.emplace(AUserId, std::prev(FDelayDownItemList.end()));
        return;
    }
    TDelayDownItem& item = *it->second; // a merge never clears anything
    item.UserInfo = item.UserInfo || AUserInfo;
    if (!AFaceFile.isEmpty()) item.FaceFile = AFaceFile;
    if (!APhotoFile.isEmpty()) item.PhotoFile = APhotoFile;
}

void TPersonDownloads::OnDelayDownTimer()
{
    TDelayDownItem item;
    {
        std::lock_guard guard(FDelayLock);
        if (FDelayDownItemList.empty()) return;
        item = FDelayDownItemList.front();
        FDelayDownItemList.pop_front();
        FDelayIndex.erase(item.UserId);
    }
    DebugOutput(QStringLiteral("OnDelayDownTimer UserId=%1, UserInfo=%2, FaceFile=%3, PhotoFile=%4")
                    .arg(item.UserId)
                    .arg(item.UserInfo ? QStringLiteral("True") : QStringLiteral("False"), item.FaceFile,
                         item.PhotoFile));
    TGlobalClient* c = GlobalClient();
    if (item.UserInfo && c) c->GetUserInfo(QString::number(item.UserId));
    if (!item.FaceFile.isEmpty()) DownloadFaceFile(item.UserId, item.FaceFile);
    if (!item.PhotoFile.isEmpty()) DownloadPhotoFile(item.UserId, item.PhotoFile);
}

void TPersonDownloads::DownloadFaceFile(int32_t AUserId, const QString& AFaceFile)
{
    ISession* s = Session();
    if (!s || !s->Logined() || !FFaceThread) return;
    FFaceThread->AddDownloadTask(AUserId, AFaceFile);
}

void TPersonDownloads::DownloadPhotoFile(int32_t AUserId, const QString& APhotoFile)
{
    ISession* s = Session();
    if (!s || !s->Logined() || !FPhotoThread) return;
    FPhotoThread->AddDownloadTask(AUserId, APhotoFile);
}

void TPersonDownloads::RebuildUserFaces(int32_t AUserId)
{
    const QString idText = QString::number(AUserId);
    if (TContactManager* m = ContactManager()) {
        std::lock_guard guard(m->Mutex());
        if (TContact* c = m->FindContactById(AUserId, false)) c->RebuildFaceImage();
    }
    for (IPersonHolder* h : {GroupMembers(), RoomMembers()})
        if (h) h->ForEachPerson(AUserId, [](TOtherUser& u) { u.RebuildFaceImage(); });
    if (TDepartmentManager* m = DepartmentManager()) {
        std::lock_guard guard(m->Mutex());
        m->RebuildUserFaceImage(AUserId);
    }
    if (IPersonHolder* h = SearchResults()) h->ForEachPerson(AUserId, [](TOtherUser& u) { u.RebuildFaceImage(); });
}

} // namespace pelvox
