#pragma once
#include "core/Client_UserEnums.h"
#include "platform/DateTime.h"
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace pelvox {

class TBitDocument;
class TGlobalClient;
class TWorkerThread;
struct TUserInfoChangeItems;

// A field with a read accessor of the same name and a setter (the answer
// handlers of the user documents keep the record current through them).
#define PELVOX_USER_FIELD(Type, Name, Init)                                                        \
public:                                                                                            \
    const Type& Name() const { return F##Name; }                                                   \
    void Set##Name(const Type& AValue) { F##Name = AValue; }                                       \
                                                                                                   \
private:                                                                                           \
    Type F##Name = Init;

// The signed-in user's own record, filled from the login answer. UI thread.
class TCurrentUser {
public:
    explicit TCurrentUser(TGlobalClient* AClient);
    // Waits for running uploads.
    ~TCurrentUser();
    TCurrentUser(const TCurrentUser&) = delete;
    TCurrentUser& operator=(const TCurrentUser&) = delete;

    // Reads every "userdata_*" node of the login answer; the first missing or
    // unreadable node ends the reading (and is reported). The user root is set
    // in every case.
    void InitWhenLoginSuccess(const TBitDocument& ADoc);
    // Creates "Received Files/", "ChatFiles/" and "ShareFiles/" under the user root.
    void CreateUserFolders();
    void UpdateDataWhenLogout() { FLoginStatus = lsOffline; }
    // lsOffline logs out; otherwise, signed in, the new status is announced
    // and sent; not signed in, a login with that status starts.
    void ChangeLoginStatus(TLoginStatus AStatus);

    // Account requests (Client_CurrentUserRequests.cpp); dropped while not
    // signed in, the answers change the record.
    void ChangeUserInfo(const TUserInfoChangeItems& AChangeItems);
    void ChangeSignature(const QString& AValue);
    // Sends the digests; the new one is kept for the answer, the typed text is dropped.
    void ChangePassword(const QString& AOldMd5Pwd, const QString& ANewMd5Pwd, const QString& ANewPassword);
    void ChangeLinkDepart(int32_t linkdepartid);
    void UpdateJoinSetting(int16_t onlyfindmebyid, int16_t joinsetting, const QString& joinquestion,
                           const QString& joinanswer);
    void GetPwdProtection();
    void SetPwdProtection(const QString& AQuestion1, const QString& AAnswer1, const QString& AQuestion2,
                          const QString& AAnswer2, const QString& AQuestion3, const QString& AAnswer3);
    void ValidatePwdProtection(const QString& AAnswer1, const QString& AAnswer2, const QString& AAnswer3);
    // Uploads on a thread of their own; a refused or failed upload raises
    // "Client:OnChangeFaceFileFailed" / "Client:OnChangePhotoFileFailed".
    void ChangeFaceFile(const QString& AFileName);
    void ChangePhotoFile(const QString& AFileName);
    bool UploadRunning() const;
    // Counts one SMS against the allowance; false (with "Client:OnSMSError") when none is left.
    bool CheckSMSLimit();

    const QString& GetUserRoot() const { return FUserRoot; }
    void SetUserRoot(const QString& AValue) { FUserRoot = AValue; }
    QString GetShowName(bool AShowUserId) const;
    QString GetLocalFaceFile() const;
    QString GetLocalPhotoFile() const;

    // The default user root of a user id: application root + "Users/<id>/".
    static QString DefaultUserRoot(int32_t AUserId);

    PELVOX_USER_FIELD(int32_t, UserId, 0)
    PELVOX_USER_FIELD(QString, UserName, {})
    PELVOX_USER_FIELD(int32_t, UserType, 0)
    PELVOX_USER_FIELD(bool, CanFound, false)
    PELVOX_USER_FIELD(QString, NickName, {})
    PELVOX_USER_FIELD(QString, Signature, {})
    PELVOX_USER_FIELD(QString, ActualName, {})
    PELVOX_USER_FIELD(TUserSex, Sex, usNone)
    PELVOX_USER_FIELD(int32_t, Age, -1)
    PELVOX_USER_FIELD(int32_t, Birth_Year, 0)
    PELVOX_USER_FIELD(int32_t, Birth_Month, 0)
    PELVOX_USER_FIELD(int32_t, Birth_Day, 0)
    PELVOX_USER_FIELD(int32_t, Country, 0)
    PELVOX_USER_FIELD(int32_t, Province, 0)
    PELVOX_USER_FIELD(int32_t, City, 0)
    PELVOX_USER_FIELD(int32_t, Area, 0)
    PELVOX_USER_FIELD(QString, Address, {})
    PELVOX_USER_FIELD(QString, Telephone, {})
    PELVOX_USER_FIELD(QString, Telephone_Short, {})
    PELVOX_USER_FIELD(QString, Telephone2, {})
    PELVOX_USER_FIELD(QString, Telephone2_Short, {})
    PELVOX_USER_FIELD(QString, Mobile, {})
    PELVOX_USER_FIELD(QString, Mobile_Short, {})
    PELVOX_USER_FIELD(QString, Mobile2, {})
    PELVOX_USER_FIELD(QString, Mobile2_Short, {})
    PELVOX_USER_FIELD(QString, Fax, {})
    PELVOX_USER_FIELD(QString, QQ, {})
    PELVOX_USER_FIELD(QString, Weixin, {})
    PELVOX_USER_FIELD(QString, Weibo, {})
    PELVOX_USER_FIELD(QString, Email, {})
    PELVOX_USER_FIELD(QString, RoomName, {})
    PELVOX_USER_FIELD(QString, RoomNumber, {})
    PELVOX_USER_FIELD(QString, IdNumber, {})
    PELVOX_USER_FIELD(QString, CarNumber, {})
    PELVOX_USER_FIELD(QString, Homepage, {})
    PELVOX_USER_FIELD(int32_t, DepartId, 0)
    PELVOX_USER_FIELD(QString, DepartName, {})
    PELVOX_USER_FIELD(QString, JobTitle, {})
    PELVOX_USER_FIELD(QString, JobNumber, {})
    PELVOX_USER_FIELD(QString, Introduction, {})
    PELVOX_USER_FIELD(QString, FaceFile, {})
    PELVOX_USER_FIELD(QString, PhotoFile, {})
    PELVOX_USER_FIELD(TLoginStatus, LoginStatus, lsOffline)
    PELVOX_USER_FIELD(int32_t, LoginTimes, 0)
    PELVOX_USER_FIELD(TDateTime, LastLoginTime, 0)
    PELVOX_USER_FIELD(QString, ClientIPAddr, {})
    PELVOX_USER_FIELD(QString, ClientLocation, {})
    PELVOX_USER_FIELD(QString, LastClientIPAddr, {})
    PELVOX_USER_FIELD(QString, LastClientLocation, {})
    PELVOX_USER_FIELD(QString, Token, {})
    PELVOX_USER_FIELD(bool, OnlyFindMeById, false)
    PELVOX_USER_FIELD(TJoinMeSetting, JoinSetting, jmsNeedConfirm)
    PELVOX_USER_FIELD(QString, JoinQuestion, {})
    PELVOX_USER_FIELD(QString, JoinAnswer, {})
    PELVOX_USER_FIELD(int32_t, LinkDepartId, 0)
    PELVOX_USER_FIELD(int32_t, SMSTotal, 0)
    PELVOX_USER_FIELD(int32_t, SMSDayLimit, 0)
    PELVOX_USER_FIELD(TDateTime, SMSDayStart, NowLocal())
    PELVOX_USER_FIELD(int32_t, SMSDaySended, 0)
    PELVOX_USER_FIELD(int32_t, SMSTotalSended, 0)
    PELVOX_USER_FIELD(TDateTime, ModifyTime, 0)
    PELVOX_USER_FIELD(TDateTime, CreateTime, 0)
    PELVOX_USER_FIELD(bool, IsSetPwdProtection, false)
    PELVOX_USER_FIELD(QString, PwdProtection_Question1, {})
    PELVOX_USER_FIELD(QString, PwdProtection_Question2, {})
    PELVOX_USER_FIELD(QString, PwdProtection_Question3, {})
    // Digest of a requested new password, kept until the answer.
    PELVOX_USER_FIELD(QString, TempNewPassword, {})

private:
    struct TAnswerField;
    static const std::vector<TAnswerField>& AnswerFields();
    void StartUpload(bool AFace, const QString& AFileName);
    void SendRequest(TBitDocument& ADoc);
    TGlobalClient* FClient;
    QString FUserRoot;
    std::unique_ptr<TWorkerThread> FChangeFaceFileThread, FChangePhotoFileThread;
    // Outcomes posted to the UI thread find the record only while it lives.
    std::shared_ptr<TCurrentUser*> FAlive;
};

#undef PELVOX_USER_FIELD

} // namespace pelvox
