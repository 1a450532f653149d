#pragma once
#include "core/Client_UserEnums.h"
#include "platform/DateTime.h"
#include <QImage>
#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>

namespace pelvox {

class TBitNode;
class TBitDocument;
struct TFaceImageData;

// Shared one-byte enumerations of the directory and conversation data.
// (TLoginStatus, TUserSex and TJoinMeSetting come with the user enumerations.)
enum TOtherUserType : uint8_t { outContact = 0, outDepartUser = 1, outGroupMember = 2, outRoomMember = 3 };
enum TGroupJoinSetting : uint8_t { gjsAllUsers = 0, gjsNeedCheck = 1, gjsNoJoin = 2 };
enum TRoomJoinSetting : uint8_t { rjsAllUsers = 0, rjsNeedCheck = 1, rjsNoJoin = 2 };
enum TGroupMsgHintSetting : uint8_t { gmhsAutoOpen = 0, gmhsPointOut = 1, gmhsNoHint = 2 };
enum TRoomMsgHintSetting : uint8_t { rmhsAutoOpen = 0, rmhsPointOut = 1, rmhsNoHint = 2 };
// An ordinary message or an automatic reply.
enum TMsgType : uint8_t { mtChatMsg = 0, mtAutoWriteBack = 1 };
// Importance of a message.
enum TMsgLevel : uint8_t { mlNormal = 0, mlImportant = 1 };
enum TSuperObjectClass : uint8_t { socChat = 0, socGroupChat = 1, socRoomChat = 2 };
enum TFileTransSessionState : uint8_t { ftssWaiting = 0, ftssP2PBuilding = 1, ftssTransmiting = 2, ftssCompleted = 3 };

// Values from the wire outside an enumeration's range map to a safe default.
inline TLoginStatus LoginStatusFromWire(int64_t AValue)
{
    return (AValue >= lsOffline && AValue <= lsHide) ? TLoginStatus(AValue) : lsOffline;
}
inline TJoinMeSetting JoinSettingFromWire(int64_t AValue)
{
    return (AValue >= jmsAllowAll && AValue <= jmsNeedAnswer) ? TJoinMeSetting(AValue) : jmsNeedConfirm;
}
// Online means neither offline nor hidden.
inline bool IsOnlineStatus(TLoginStatus AStatus) { return AStatus != lsOffline && AStatus != lsHide; }

// Exchanges the two bytes of each pair; an odd last byte stays.
void SwapBytePairs(void* ABuffer, int ALength);
// The serial number of the first disk, or empty text.
QString GetIdeSerialNumber();

// Held by every cache read, cache write and face rebuild.
std::recursive_mutex& OtherUserCacheLock();

// "Temp/Users/" + lower-case MD5 of the decimal id + ".cache", under the application root.
QString OtherUserCacheFile(int32_t AUserId);
QString OtherUserCacheFileName(int32_t AUserId); // the name alone

// Which existing files a bulk fill (a login answer) may assume, so that one
// folder listing replaces a file test per person. Empty sets mean "ask the disk".
struct TLocalFileSnapshot {
    bool Valid = false;
    struct TNames;
    std::shared_ptr<const TNames> Names;
    static TLocalFileSnapshot Take();
    bool HasCache(const QString& AName) const;
    bool HasFace(const QString& AName) const;
    bool HasPhoto(const QString& AName) const;
};

#define PELVOX_PERSON_FIELD(Type, Name)                                                            \
public:                                                                                            \
    const Type& Name() const { return F##Name; }                                                   \
    void Set##Name(const Type& AValue) { F##Name = AValue; }                                       \
                                                                                                   \
protected:                                                                                         \
    Type F##Name{};

// Every other person the user sees: a colleague, a contact, a member, a search
// result. Records live on the user-interface thread and are shared: whoever
// still holds one after a manager dropped it keeps a valid object.
class TOtherUser : public std::enable_shared_from_this<TOtherUser> {
public:
    TOtherUser();
    virtual ~TOtherUser();
    TOtherUser(const TOtherUser&) = delete;
    TOtherUser& operator=(const TOtherUser&) = delete;

    TOtherUserType OtherUserType() const { return FOtherUserType; }
    void SetOtherUserType(TOtherUserType AValue) { FOtherUserType = AValue; }

public:
    int32_t UserId() const { return FUserId; }
    const QString& UserName() const { return FUserName; }
    // Lists that index people by id and name hear of a change.
    void SetUserId(int32_t AValue)
    {
        FUserId = AValue;
        IdentityChanged();
    }
    void SetUserName(const QString& AValue)
    {
        FUserName = AValue;
        IdentityChanged();
    }

protected:
    int32_t FUserId = 0;
    QString FUserName;
    PELVOX_PERSON_FIELD(int16_t, UserType)
    PELVOX_PERSON_FIELD(QString, NickName)
    PELVOX_PERSON_FIELD(QString, Signature)
    PELVOX_PERSON_FIELD(QString, ActualName)
    PELVOX_PERSON_FIELD(TUserSex, Sex)
    PELVOX_PERSON_FIELD(int32_t, Age)
    PELVOX_PERSON_FIELD(int32_t, Birth_Year)
    PELVOX_PERSON_FIELD(int32_t, Birth_Month)
    PELVOX_PERSON_FIELD(int32_t, Birth_Day)
    PELVOX_PERSON_FIELD(int32_t, Country)
    PELVOX_PERSON_FIELD(int32_t, Province)
    PELVOX_PERSON_FIELD(int32_t, City)
    PELVOX_PERSON_FIELD(int32_t, Area)
    PELVOX_PERSON_FIELD(QString, Address)
    PELVOX_PERSON_FIELD(QString, Telephone)
    PELVOX_PERSON_FIELD(QString, Telephone_Short)
    PELVOX_PERSON_FIELD(QString, Telephone2)
    PELVOX_PERSON_FIELD(QString, Telephone2_Short)
    PELVOX_PERSON_FIELD(QString, Mobile)
    PELVOX_PERSON_FIELD(QString, Mobile_Short)
    PELVOX_PERSON_FIELD(QString, Mobile2)
    PELVOX_PERSON_FIELD(QString, Mobile2_Short)
    PELVOX_PERSON_FIELD(QString, Fax)
    PELVOX_PERSON_FIELD(QString, QQ)
    PELVOX_PERSON_FIELD(QString, Weixin)
    PELVOX_PERSON_FIELD(QString, Weibo)
    PELVOX_PERSON_FIELD(QString, Email)
    PELVOX_PERSON_FIELD(QString, RoomName)
    PELVOX_PERSON_FIELD(QString, RoomNumber)
    PELVOX_PERSON_FIELD(QString, IdNumber)
    PELVOX_PERSON_FIELD(QString, CarNumber)
    PELVOX_PERSON_FIELD(QString, Homepage)
    PELVOX_PERSON_FIELD(int32_t, DepartId)
    PELVOX_PERSON_FIELD(QString, DepartName)
    PELVOX_PERSON_FIELD(QString, JobTitle)
    PELVOX_PERSON_FIELD(QString, JobNumber)
    PELVOX_PERSON_FIELD(QString, Introduction)
    PELVOX_PERSON_FIELD(QString, FaceFile)
    PELVOX_PERSON_FIELD(QString, PhotoFile)
    PELVOX_PERSON_FIELD(int32_t, UserPosition)
    PELVOX_PERSON_FIELD(TDateTime, ModifyTime)

public:
    TLoginStatus LoginStatus() const { return FLoginStatus; }
    // Kinds that keep counts (colleagues) hear of the change.
    void SetLoginStatus(TLoginStatus AValue);
    bool IsOnline() const { return IsOnlineStatus(FLoginStatus); }

    virtual QString GetShowName(bool AShowUserId) const;
    // Fills the profile from that user's cache file when it exists; a damaged
    // file is deleted and skipped.
    virtual void LoadFromCache(int32_t AUserId);
    void LoadFromCache(int32_t AUserId, const TLocalFileSnapshot& ASnapshot);
    // Writes the profile to the record's cache file (atomically); nothing for ids <= 0.
    virtual void SaveToCache();
    // The cache document's content (also what SaveToCache writes).
    void WriteCacheDocument(TBitDocument& ADoc) const;
    void ReadCacheDocument(const TBitDocument& ADoc);

    // Local paths under "Temp/Faces/" and "Temp/Photos/"; empty when the
    // server's name is not a plain file name (such a name means no face).
    QString GetLocalFaceFile() const;
    QString GetLocalPhotoFile() const;
    bool FaceFileLoss() const;
    bool PhotoFileLoss() const;
    bool FaceFileLoss(const TLocalFileSnapshot& ASnapshot) const;
    bool PhotoFileLoss(const TLocalFileSnapshot& ASnapshot) const;
    void TryDownloadFaceFile(bool AForce);
    void TryDownloadPhotoFile(bool AForce);

    // Drops the face and reloads it from the local file. The picture is
    // decoded off the user-interface thread; the swap happens on it.
    void RebuildFaceImage();
    // Takes a decoded face (user-interface thread); null drops the face.
    void ApplyFaceImage(std::shared_ptr<const TFaceImageData> AFace);
    bool NextFaceImageFrame();
    bool NextFaceImageFrame(uint64_t ANowTick);
    void ResetFaceImageFrame();
    // A new 16 x 16 picture of the face (or the default face); null when none.
    QImage CreateFaceIcon() const;

    bool FaceIamgeGetted() const { return FFace != nullptr; }
    bool FaceImageIsGif() const;
    const QImage& ActiveFaceImage40x40() const;
    const QImage& GrayFaceImage40x40() const;
    const QImage& ActiveFaceImage20x20() const;
    const QImage& GrayFaceImage20x20() const;
    uint32_t GifFrameIndex() const { return FGifFrameIndex; }
    uint32_t GifFrameCount() const;

    // Monotonic milliseconds, the clock of the GIF timing.
    static uint64_t TickCount();

protected:
    virtual void LoginStatusChanged(TLoginStatus AOld, TLoginStatus ANew) { (void)AOld; (void)ANew; }
    virtual void IdentityChanged() {}

private:
    friend struct TPersonFields;
    TOtherUserType FOtherUserType = outContact;
    TLoginStatus FLoginStatus = lsOffline;
    std::shared_ptr<const TFaceImageData> FFace;
    uint32_t FGifFrameIndex = 0;
    uint32_t FGifPlayWaitTime = 0;
    uint64_t FGifLastTickCount = 0;
    uint32_t FFaceGeneration = 0;
    QString FFacePath; // the local file the face was loaded from
    bool RebuildFaceImage(const TLocalFileSnapshot* ASnapshot);
    friend class TDepartmentManager;
    friend class TContactManager;
};

#undef PELVOX_PERSON_FIELD

// Ranges of the profile fields in document order ("nickname" .. "modifytime").
enum class TProfileRange {
    InfoPush,   // the 36 values of a changed-profile push
    UserDoc,    // everything a user document may carry, without "modifytime"
    Full,       // every field from "nickname" to "modifytime"
};
// Copies the fields of the range that are present under ARoot (absent ones stay).
void ReadProfileFields(TOtherUser& AUser, const TBitNode& ARoot, TProfileRange ARange);
// The same, but every node must be there: a missing one raises (server documents).
void ReadProfileFieldsStrict(TOtherUser& AUser, const TBitNode& ARoot, TProfileRange ARange);
// Copies the range's fields from one record to another.
void CopyProfileFields(TOtherUser& ADest, const TOtherUser& ASource, TProfileRange ARange);

} // namespace pelvox
