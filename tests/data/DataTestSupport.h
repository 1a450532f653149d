#pragma once
#include "core/BitDocument.h"
#include "core/Client_PersonDownloads.h"
#include "core/Client_Session.h"
#include "TestSupport.h"
#include <QDir>
#include <QByteArray>
#include <QColor>
#include <QString>
#include <memory>
#include <tuple>
#include <vector>

namespace pelvox::test {

// A scratch application root with the person folders.
struct DataRoot : TempAppRoot {
    DataRoot()
    {
        for (const char* d : {"Temp/Users", "Temp/Faces", "Temp/Photos"}) QDir(Path()).mkpath(QString::fromLatin1(d));
    }
};

// A session that is signed in or not and keeps what it was asked to send.
class FakeSession : public ISession {
public:
    FakeSession() { SetSession(this); }
    ~FakeSession() override { SetSession(nullptr); }
    bool Logined() const override { return SignedIn; }
    void SendMainCmdData(TBitDocument& ADoc, bool) override
    {
        auto copy = std::make_unique<TBitDocument>();
        copy->Assign(ADoc);
        Sent.push_back(std::move(copy));
    }
    TDateTime ServerTime() const override { return 0; }
    QString UserRoot() const override { return {}; }
    uint32_t CurrentUserId() const override { return OwnId; }

    bool SignedIn = true;
    uint32_t OwnId = 1;
    std::vector<std::unique_ptr<TBitDocument>> Sent;
};

// Records what the person records ask of the download side.
class FakeDownloads : public IPersonDownloads {
public:
    struct Delay {
        int32_t UserId;
        bool UserInfo;
        QString Face, Photo;
        bool operator==(const Delay&) const = default;
    };
    void StartThreads() override {}
    void StopThreads() override {}
    void ClearDelayList() override {}
    void OnDelayDownTimer() override {}
    void DownloadFaceFile(int32_t id, const QString& f) override { Faces.emplace_back(id, f); }
    void DownloadPhotoFile(int32_t id, const QString& f) override { Photos.emplace_back(id, f); }
    void DelayDown(int32_t id, bool info, const QString& f, const QString& p) override
    {
        Delays.push_back({id, info, f, p});
    }
    void RebuildUserFaces(int32_t) override {}
    std::vector<std::pair<int32_t, QString>> Faces, Photos;
    std::vector<Delay> Delays;
};

// Installs a FakeDownloads for the life of the guard.
struct DownloadsGuard {
    std::shared_ptr<FakeDownloads> D = std::make_shared<FakeDownloads>();
    DownloadsGuard() { SetPersonDownloads(D); }
    ~DownloadsGuard() { SetPersonDownloads(nullptr); }
    FakeDownloads* operator->() const { return D.get(); }
};

// A small GIF89a: one colour per frame (4-colour palette), one delay per frame
// in hundredths of a second.
QByteArray MakeGif(int AWidth, int AHeight, const std::vector<std::pair<QColor, int>>& AFrames);

// A login answer built from compact tables.
struct DeptRow {
    int64_t Id;
    QString Name;
    int64_t Parent;
};
struct UserRow {
    int32_t UserId;
    QString UserName;
    int64_t DepartId;
    QString DepartName;
    int Status = 0;
    double ModifyTime = 0;
    QString FaceFile = {};
};
void AddDepartments(TBitDocument& ADoc, const std::vector<DeptRow>& ADepts, const std::vector<UserRow>& AUsers);

} // namespace pelvox::test
