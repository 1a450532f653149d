#pragma once
#include "core/Client_Session.h"
#include "data/Client_Common.h"
#include <QHash>
#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace pelvox {

class TContact;
class TContactGroup;
using TContactPtr = std::shared_ptr<TContact>;
using TContactGroupPtr = std::shared_ptr<TContactGroup>;
using TIndexVersion = std::shared_ptr<std::atomic<uint64_t>>;

// An ordered list of contacts. It shares, not owns: a contact taken out stays
// valid for whoever holds it. Every change tells the manager's index.
class TContactList {
public:
    int Add(TContactPtr AItem);
    void Insert(int AIndex, TContactPtr AItem);
    // Takes the contact out (it is not freed while held); false when absent.
    bool Remove(const TContact* AItem);
    int Count() const { return int(FItems.size()); }
    TContact* Items(int AIndex) const { return FItems.at(size_t(AIndex)).get(); }
    const TContactPtr& Item(int AIndex) const { return FItems.at(size_t(AIndex)); }
    int IndexOf(const TContact* AItem) const;
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    friend class TContactGroup;
    friend class TContactGroupList;
    friend class TContactManager;
    void Touch();
    std::vector<TContactPtr> FItems;
    TIndexVersion FVersion;
};

class TContact : public TOtherUser {
public:
    TContact() { SetOtherUserType(outContact); }

    TContactGroupPtr ContactGroup() const { return FContactGroup.lock(); }
    void SetContactGroup(const TContactGroupPtr& AGroup) { FContactGroup = AGroup; }
    const QString& RemarkName() const { return FRemarkName; }
    void SetRemarkName(const QString& AValue) { FRemarkName = AValue; }
    int32_t HideWhenOnline() const { return FHideWhenOnline; }
    void SetHideWhenOnline(int32_t AValue) { FHideWhenOnline = AValue; }
    int32_t OnlineWhenHide() const { return FOnlineWhenHide; }
    void SetOnlineWhenHide(int32_t AValue) { FOnlineWhenHide = AValue; }
    int32_t RemindMeWhenLogin() const { return FRemindMeWhenLogin; }
    void SetRemindMeWhenLogin(int32_t AValue) { FRemindMeWhenLogin = AValue; }
    int32_t NoMessage() const { return FNoMessage; }
    void SetNoMessage(int32_t AValue) { FNoMessage = AValue; }

    QString GetShowName(bool AShowUserId) const override { return TOtherUser::GetShowName(AShowUserId); }

protected:
    void IdentityChanged() override;

private:
    friend class TContactList;
    friend class TContactGroupList;
    std::weak_ptr<TContactGroup> FContactGroup;
    QString FRemarkName;
    int32_t FHideWhenOnline = 0, FOnlineWhenHide = 0, FRemindMeWhenLogin = 0, FNoMessage = 0;
    TIndexVersion FVersion;
};

class TContactGroup : public std::enable_shared_from_this<TContactGroup> {
public:
    explicit TContactGroup(TIndexVersion AVersion = nullptr);

    int32_t ContactGroupId() const { return FContactGroupId; }
    void SetContactGroupId(int32_t AValue) { FContactGroupId = AValue; }
    const QString& ContactGroupName() const { return FContactGroupName; }
    void SetContactGroupName(const QString& AValue) { FContactGroupName = AValue; }
    int16_t HideWhenOnline() const { return FHideWhenOnline; }
    void SetHideWhenOnline(int16_t AValue) { FHideWhenOnline = AValue; }
    int16_t OnlineWhenHide() const { return FOnlineWhenHide; }
    void SetOnlineWhenHide(int16_t AValue) { FOnlineWhenHide = AValue; }
    int16_t RemindMeWhenLogin() const { return FRemindMeWhenLogin; }
    void SetRemindMeWhenLogin(int16_t AValue) { FRemindMeWhenLogin = AValue; }
    int16_t NoMessage() const { return FNoMessage; }
    void SetNoMessage(int16_t AValue) { FNoMessage = AValue; }
    int32_t OrderValue() const { return FOrderValue; }
    void SetOrderValue(int32_t AValue) { FOrderValue = AValue; }
    TDateTime CreateTime() const { return FCreateTime; }
    void SetCreateTime(TDateTime AValue) { FCreateTime = AValue; }
    TContactList& ContactList() { return FContactList; }
    const TContactList& ContactList() const { return FContactList; }
    int32_t OnlineCount() const { return FOnlineCount; }

    // Appends or inserts a contact and files it in this group.
    void AddContact(const TContactPtr& AContact);
    void InsertContact(int AIndex, const TContactPtr& AContact);
    // The first contact whose decimal id text, or else whose user name, is the text.
    TContact* FindContact(const QString& AUserIdOrName) const;
    void UpdateOnlineCount();

private:
    int32_t FContactGroupId = 0;
    QString FContactGroupName;
    int16_t FHideWhenOnline = 0, FOnlineWhenHide = 0, FRemindMeWhenLogin = 0, FNoMessage = 0;
    int32_t FOrderValue = 0;
    TDateTime FCreateTime = 0;
    TContactList FContactList;
    int32_t FOnlineCount = 0;
};

class TContactGroupList {
public:
    int Add(TContactGroupPtr AGroup);
    bool Remove(const TContactGroup* AGroup);
    void Clear();
    int Count() const { return int(FItems.size()); }
    TContactGroup* Items(int AIndex) const { return FItems.at(size_t(AIndex)).get(); }
    const TContactGroupPtr& Item(int AIndex) const { return FItems.at(size_t(AIndex)); }
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    friend class TContactManager;
    std::vector<TContactGroupPtr> FItems;
    TIndexVersion FVersion;
};

// The signed-in user's contacts in their groups: my contacts (0), strangers
// (1), the black list (2) and the user's own groups.
class TContactManager : public IDataManager {
public:
    TContactManager();

    TContactGroupList& Groups() { return FGroups; }
    const TContactGroupList& Groups() const { return FGroups; }
    void Lock() { FLock.lock(); }
    void UnLock() { FLock.unlock(); }
    std::recursive_mutex& Mutex() { return FLock; }

    void InitWhenLoginSuccess(const TBitDocument& ADoc) override;
    void UpdateDataWhenLogout() override;

    // Adds a group (groups of Part answers use it so the index follows).
    TContactGroupPtr NewGroup(int32_t AId, const QString& AName);
    TContactGroup* GetContactGroup(int32_t AContactGroupId, bool ALock);
    TContactGroup* GetMyContactsGroup() { return GetContactGroup(0, false); }
    TContactGroup* GetStrangerGroup() { return GetContactGroup(1, false); }
    TContactGroup* GetBlackListGroup() { return GetContactGroup(2, false); }
    TContact* FindContact(const QString& AUserIdOrName, bool ALock);
    TContact* FindContact(const QString& AUserIdOrName, TContactGroup*& AContactGroup, bool ALock);
    TContact* FindContactById(int32_t AUserId, bool ALock);

    // Requests (sent only while signed in; the answers change the lists).
    void AddContactGroup(const QString& contactgroupname);
    void RemoveContactGroup(int32_t contactgroupid);
    void ChangeContactGroupName(int32_t contactgroupid, const QString& contactgroupname);
    void ChangeContactGroupSetting(int32_t contactgroupid, int16_t hidewhenonline, int16_t onlinewhenhide,
                                   int16_t remindmewhenlogin, int16_t nomessage);
    void AddContact(int32_t contactgroupid, int32_t contactid, const QString& remarkname);
    void RemoveContact(int32_t contactid, bool ARemoveOtherSide);
    void ChangeContactRemarkName(int32_t contactid, const QString& remarkname);
    void MoveContact(int32_t contactid, int32_t contactgroupid);
    void MoveToBlackList(int32_t contactid);
    void ChangeContactSetting(int32_t contactid, int16_t hidewhenonline, int16_t onlinewhenhide,
                              int16_t remindmewhenlogin, int16_t nomessage);

    // Files a person who is not a contact into the strangers group at once.
    void StrangerNeeded(int32_t AUserId, const QString& AUserName, const QString& ANickName,
                        const QString& AActualName, bool ALock);

    // Contacts taken out by an answer go here when a caller wants them kept
    // for the rest of the run (the lists themselves only share).
    int ContactCount() const;

private:
    struct TIndexEntry {
        TContact* Contact;
        TContactGroup* Group;
        uint32_t Order;
    };
    void EnsureIndex();
    void EnsureFixedGroups();

    TContactGroupList FGroups;
    std::recursive_mutex FLock;
    TContactGroupPtr FMyContacts, FStrangers, FBlackList;
    TIndexVersion FVersion;
    uint64_t FIndexedVersion = ~uint64_t(0);
    std::unordered_map<int32_t, TIndexEntry> FById;
    QHash<QString, TIndexEntry> FByName;
};

} // namespace pelvox
