#pragma once
#include "core/Client_PersonDownloads.h"
#include "platform/Sync.h"
#include <QString>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace pelvox {

// One long-lived worker that fetches faces (or photos) over short
// sub-command connections, one task at a time, three tries per task. The
// worker only moves bytes and writes the file; the records are updated and
// the event raised on the user-interface thread.
class TFileDownloadThread {
public:
    enum class TKind { Face, Photo };
    explicit TFileDownloadThread(TKind AKind);
    ~TFileDownloadThread();
    TFileDownloadThread(const TFileDownloadThread&) = delete;
    TFileDownloadThread& operator=(const TFileDownloadThread&) = delete;

    // A newer file for a user whose task still waits replaces the older name.
    void AddDownloadTask(int32_t AUserId, const QString& AFileName);
    size_t QueuedCount() const;

private:
    struct TTask {
        int32_t UserId = 0;
        QString FileName;
        int TryTimes = 0;
    };
    void Run(TWorkerThread& AThread);
    bool Download(const TTask& ATask);

    const TKind FKind;
    mutable std::mutex FLock;
    std::deque<TTask> FTasks;
    TEvent FDownloadEvent{true, false};
    std::unique_ptr<TWorkerThread> FThread;
};

// Faces, photos and the delayed-download list of the session.
class TPersonDownloads : public IPersonDownloads {
public:
    TPersonDownloads();
    ~TPersonDownloads() override;

    void StartThreads() override;
    void StopThreads() override;
    void ClearDelayList() override;
    void OnDelayDownTimer() override;
    void DownloadFaceFile(int32_t AUserId, const QString& AFaceFile) override;
    void DownloadPhotoFile(int32_t AUserId, const QString& APhotoFile) override;
    void DelayDown(int32_t AUserId, bool AUserInfo, const QString& AFaceFile, const QString& APhotoFile) override;
    void RebuildUserFaces(int32_t AUserId) override;

    size_t DelayCount() const;

private:
    struct TDelayDownItem {
        int32_t UserId = 0;
        bool UserInfo = false;
        QString FaceFile, PhotoFile;
    };
    mutable std::mutex FDelayLock;
    std::list<TDelayDownItem> FDelayDownItemList;
    std::unordered_map<int32_t, std::list<TDelayDownItem>::iterator> FDelayIndex;
    std::unique_ptr<TFileDownloadThread> FFaceThread, FPhotoThread;
};

} // namespace pelvox
