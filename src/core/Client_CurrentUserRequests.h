#pragma once
#include "core/Client_SubCmdObjects.h"
#include <QByteArray>
#include <QString>
#include <cstdint>

namespace pelvox {

class TBitDocument;

// What the profile window changes; the caller owns it. Texts are trimmed and
// cut when the request is built, numbers go out as Int16.
struct TUserInfoChangeItems {
    QString NickName, Signature, ActualName;
    int32_t Sex = 0, Age = 0, Birth_Year = 0, Birth_Month = 0, Birth_Day = 0;
    int32_t Country = 0, Province = 0, City = 0, Area = 0;
    QString Address, Telephone, Telephone_Short, Telephone2, Telephone2_Short, Mobile, Mobile_Short, Mobile2,
        Mobile2_Short, Fax, QQ, Weixin, Weibo, Email, RoomName, RoomNumber, IdNumber, CarNumber, Homepage,
        Introduction;
};

// The largest face and photo files an upload accepts.
constexpr qint64 MAX_FACE_FILE_SIZE = 102400;
constexpr qint64 MAX_PHOTO_FILE_SIZE = 307200;

// EventParam1 of "Client:OnChangeFaceFileFailed" / "Client:OnChangePhotoFileFailed"
// (EventParam2 carries the server's error code for ufrRefused).
enum TUploadFailReason : uint32_t {
    ufrFileMissing = 1, // no such file, or it cannot be read
    ufrTooLarge = 2,    // over the size limit: nothing is sent
    ufrNoAnswer = 3,    // no connection, time-out or logout during the upload
    ufrRefused = 4,     // the server answered with a non-zero error code
};

// The request documents of the own account, filled into a document named
// after the request.
void BuildChangeUserInfoRequest(TBitDocument& ADoc, const TUserInfoChangeItems& AItems);
void BuildChangeSignatureRequest(TBitDocument& ADoc, const QString& AValue);
void BuildUpdateJoinSettingRequest(TBitDocument& ADoc, int16_t AOnlyFindMeById, int16_t AJoinSetting,
                                   const QString& AJoinQuestion, const QString& AJoinAnswer);

// One upload of a face or photo over a sub-command connection. Runs on its
// own thread; the outcome is handed to the user-interface thread.
struct TUploadJob {
    bool Face = true;
    TSubCmdEndpoint Endpoint;
    int32_t UserId = 0;
    QString FileName; // without its folder
    QByteArray Data;
};
struct TUploadOutcome {
    bool Ok = false;
    TUploadFailReason Reason = ufrNoAnswer;
    int32_t ErrorCode = 0;
    QString ServerFileName; // "facefile" / "photofile" of the answer
};
// The exchange itself (worker thread): request, answer and its checks.
TUploadOutcome RunUpload(const TUploadJob& AJob);

} // namespace pelvox
