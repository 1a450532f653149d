#pragma once
#include <QString>
#include <cstdint>
#include <memory>

namespace pelvox {

// Faces, photos and the delayed-download list. The data layer implements it
// (the downloads end in the person records it owns) and registers it at
// start-up; the session object delegates its DownloadFaceFile,
// DownloadPhotoFile and DelayDown to it and drives its life cycle.
class IPersonDownloads {
public:
    virtual ~IPersonDownloads() = default;

    // Login: starts the face and photo download threads (Login empties the
    // delayed list first with ClearDelayList).
    virtual void StartThreads() = 0;
    // Logout: stops both threads and drops their queues.
    virtual void StopThreads() = 0;
    virtual void ClearDelayList() = 0;
    // Timer 2 of the session (every second while signed in): serves one entry.
    virtual void OnDelayDownTimer() = 0;

    // Queue a download while signed in; otherwise nothing.
    virtual void DownloadFaceFile(int32_t AUserId, const QString& AFaceFile) = 0;
    virtual void DownloadPhotoFile(int32_t AUserId, const QString& APhotoFile) = 0;
    // Adds or merges a delayed-download entry; works signed in or not.
    virtual void DelayDown(int32_t AUserId, bool AUserInfo, const QString& AFaceFile, const QString& APhotoFile) = 0;

    // The face file of that user changed on disk: every record of the user
    // reloads its face (user-interface thread).
    virtual void RebuildUserFaces(int32_t AUserId) = 0;
};

void SetPersonDownloads(std::shared_ptr<IPersonDownloads> ADownloads);
// Null before the data layer is installed.
IPersonDownloads* PersonDownloads();

} // namespace pelvox
