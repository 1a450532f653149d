#include "data/Client_UserDocuments.h"
#include "core/BitDocument.h"
#include "core/Client_Base.h"
#include "core/Client_BindingEvents.h"
#include "core/Client_GlobalClient.h"
#include "core/Client_PersonDownloads.h"
#include "data/Client_Managers.h"
#include "platform/Exception.h"

namespace pelvox {

namespace {

// Handlers read nodes at fixed widths; a missing node ends the handler.
const TBitNode& Need(const TBitDocument& ADoc, const char16_t* AName)
{
    const TBitNode* n = ADoc.Root()->ChildNodes().FindNode(AName);
    if (!n) throw Exception(QStringLiteral("Node not found: ") + QString::fromUtf16(AName));
    return *n;
}
int32_t ErrorCode(const TBitDocument& ADoc) { return Need(ADoc, u"errorcode").ToInt32(); }
uintptr_t Id(int32_t AUserId) { return uintptr_t(uint32_t(AUserId)); }

// The five lists in their order, one lock at a time.
struct TPersonLists {
    // The contact (with its group), under the contact manager's lock.
    template <class Fn> static void Contact(int32_t AUserId, Fn&& fn)
    {
        TContactManager* m = ContactManager();
        if (!m) return;
        std::lock_guard guard(m->Mutex());
        TContactGroup* group = nullptr;
        if (TContact* c = m->FindContact(QString::number(AUserId), group, false)) fn(*c, group);
    }
    static void Holder(IPersonHolder* AHolder, int32_t AUserId, const std::function<void(TOtherUser&)>& fn)
    {
        if (AHolder) AHolder->ForEachPerson(AUserId, fn);
    }
    template <class Fn> static void Colleagues(Fn&& fn)
    {
        TDepartmentManager* m = DepartmentManager();
        if (!m) return;
        std::lock_guard guard(m->Mutex());
        fn(*m);
    }
    // The same action on every record but the colleagues (which have their own operations).
    static void Members(int32_t AUserId, const std::function<void(TOtherUser&)>& fn)
    {
        Holder(GroupMembers(), AUserId, fn);
        Holder(RoomMembers(), AUserId, fn);
    }
};

void DownloadWhenComingOnline(TOtherUser& AUser, TLoginStatus ANew)
{
    if (IsOnlineStatus(ANew) && !IsOnlineStatus(AUser.LoginStatus())) {
        AUser.TryDownloadFaceFile(false);
        AUser.TryDownloadPhotoFile(false);
    }
}

// ---- presence -------------------------------------------------------------------------

void ApplyStatus(int32_t AUserId, TLoginStatus AStatus, bool ALogin)
{
    // A login downloads for anyone shown online; a status change only on the way up.
    auto download = [&](TOtherUser& u) {
        if (ALogin ? IsOnlineStatus(AStatus) : true) {
            if (ALogin) {
                u.TryDownloadFaceFile(false);
                u.TryDownloadPhotoFile(false);
            } else {
                DownloadWhenComingOnline(u, AStatus);
            }
        }
    };
    TPersonLists::Contact(AUserId, [&](TContact& c, TContactGroup* g) {
        download(c);
        c.SetLoginStatus(AStatus);
        if (g) g->UpdateOnlineCount();
        if (!ALogin || !c.IsOnline()) return;
        TContactManager* m = ContactManager();
        const bool listed = (m->GetStrangerGroup() && m->GetStrangerGroup()->FindContact(QString::number(AUserId))) ||
                            (m->GetBlackListGroup() && m->GetBlackListGroup()->FindContact(QString::number(AUserId)));
        if (listed) return;
        if (TGlobalClient* s = GlobalClient()) s->SystemConfig().SoundOptions().PlaySound_OtherUserLogin();
        if (c.RemindMeWhenLogin() == 1) RaiseEvent(QStringLiteral("Client:OnRemindMeWhenLogin"), Id(AUserId));
    });
    TPersonLists::Members(AUserId, [&](TOtherUser& u) {
        download(u);
        u.SetLoginStatus(AStatus);
    });
    TPersonLists::Colleagues([&](TDepartmentManager& m) {
        m.UpdateUserLoginStatus(AUserId, AStatus);
        m.UpdateOnlineCount();
    });
    TPersonLists::Holder(SearchResults(), AUserId, [&](TOtherUser& u) { u.SetLoginStatus(AStatus); });
}

void OnOtherUserLogin(const TBitDocument& ADoc, uint32_t)
{
    const int32_t id = Need(ADoc, u"userid").ToInt32();
    const int16_t raw = Need(ADoc, u"loginstatus").ToInt16();
    const TLoginStatus status = raw == 0 ? lsOffline : (raw >= 2 && raw <= 5 ? TLoginStatus(raw) : lsOnline);
    ApplyStatus(id, status, true);
    RaiseEvent(QStringLiteral("Client:OnOtherUserLogin"), Id(id));
}

void OnOtherUserLogout(const TBitDocument& ADoc, uint32_t)
{
    const int32_t id = Need(ADoc, u"userid").ToInt32();
    ApplyStatus(id, lsOffline, false);
    RaiseEvent(QStringLiteral("Client:OnOtherUserLogout"), Id(id));
}

void OnOtherUserLoginStatusChanged(const TBitDocument& ADoc, uint32_t)
{
    const int32_t id = Need(ADoc, u"userid").ToInt32();
    const int16_t raw = Need(ADoc, u"loginstatus").ToInt16();
    if (raw < 0 || raw > 5) return; // not a status: the push is ignored
    ApplyStatus(id, TLoginStatus(raw), false);
    RaiseEvent(QStringLiteral("Client:OnOtherUserLoginStatusChanged"), Id(id));
}

// ---- profile, signature, face, photo ----------------------------------------------------------

void CopyToCurrentUser(TCurrentUser& me, const TOtherUser& u, bool AWithFilesAndStatus)
{
    me.SetNickName(u.NickName());
    me.SetSignature(u.Signature());
    me.SetActualName(u.ActualName());
    me.SetSex(u.Sex());
    me.SetAge(u.Age());
    me.SetBirth_Year(u.Birth_Year());
    me.SetBirth_Month(u.Birth_Month());
    me.SetBirth_Day(u.Birth_Day());
    me.SetCountry(u.Country());
    me.SetProvince(u.Province());
    me.SetCity(u.City());
    me.SetArea(u.Area());
    me.SetAddress(u.Address());
    me.SetTelephone(u.Telephone());
    me.SetTelephone_Short(u.Telephone_Short());
    me.SetTelephone2(u.Telephone2());
    me.SetTelephone2_Short(u.Telephone2_Short());
    me.SetMobile(u.Mobile());
    me.SetMobile_Short(u.Mobile_Short());
    me.SetMobile2(u.Mobile2());
    me.SetMobile2_Short(u.Mobile2_Short());
    me.SetFax(u.Fax());
    me.SetQQ(u.QQ());
    me.SetWeixin(u.Weixin());
    me.SetWeibo(u.Weibo());
    me.SetEmail(u.Email());
    me.SetRoomName(u.RoomName());
    me.SetRoomNumber(u.RoomNumber());
    me.SetIdNumber(u.IdNumber());
    me.SetCarNumber(u.CarNumber());
    me.SetHomepage(u.Homepage());
    me.SetDepartId(u.DepartId());
    me.SetDepartName(u.DepartName());
    me.SetJobTitle(u.JobTitle());
    me.SetJobNumber(u.JobNumber());
    me.SetIntroduction(u.Introduction());
    if (!AWithFilesAndStatus) return;
    me.SetFaceFile(u.FaceFile());
    me.SetPhotoFile(u.PhotoFile());
    me.SetLoginStatus(u.LoginStatus());
}

bool IsMe(int32_t AUserId)
{
    TGlobalClient* c = GlobalClient();
    return c && c->CurrentUser().UserId() == AUserId;
}

void OnOtherUserInfoChanged(const TBitDocument& ADoc, uint32_t)
{
    const int32_t id = Need(ADoc, u"userid").ToInt32();
    TOtherUser values;
    ReadProfileFieldsStrict(values, *ADoc.Root(), TProfileRange::InfoPush);
    if (IsMe(id)) {
        CopyToCurrentUser(GlobalClient()->CurrentUser(), values, false);
        RaiseEvent(QStringLiteral("Client:OnChangeUserInfo"));
    }
    auto copy = [&](TOtherUser& u) { CopyProfileFields(u, values, TProfileRange::InfoPush); };
    TPersonLists::Contact(id, [&](TContact& c, TContactGroup*) { copy(c); });
    TPersonLists::Members(id, copy);
    TPersonLists::Colleagues([&](TDepartmentManager& m) { m.UpdateUserInfo(id, ADoc); });
    TPersonLists::Holder(SearchResults(), id, copy);
    RaiseEvent(QStringLiteral("Client:OnOtherUserInfoChanged"), Id(id));
}

void OnOtherUserSignatureChanged(const TBitDocument& ADoc, uint32_t)
{
    const int32_t id = Need(ADoc, u"userid").ToInt32();
    const QString signature = Need(ADoc, u"signature").ToString();
    auto set = [&](TOtherUser& u) { u.SetSignature(signature); };
    TPersonLists::Contact(id, [&](TContact& c, TContactGroup*) { set(c); });
    TPersonLists::Members(id, set);
    TPersonLists::Colleagues([&](TDepartmentManager& m) { m.UpdateUserSignature(id, signature); });
    TPersonLists::Holder(SearchResults(), id, set);
    RaiseEvent(QStringLiteral("Client:OnOtherUserSignatureChanged"), Id(id));
}

void OnOtherUserFaceChanged(const TBitDocument& ADoc, uint32_t)
{
    const int32_t id = Need(ADoc, u"userid").ToInt32();
    const QString face = Need(ADoc, u"facefile").ToString();
    auto set = [&](TOtherUser& u) {
        u.SetFaceFile(face);
        u.TryDownloadFaceFile(false);
        if (!u.FaceFileLoss()) u.RebuildFaceImage(); // a copy already here shows at once
    };
    TPersonLists::Contact(id, [&](TContact& c, TContactGroup*) { set(c); });
    TPersonLists::Members(id, set);
    TPersonLists::Colleagues([&](TDepartmentManager& m) { m.UpdateUserFaceFile(id, face); });
    TPersonLists::Holder(SearchResults(), id, set);
}

void OnOtherUserPhotoChanged(const TBitDocument& ADoc, uint32_t)
{
    const int32_t id = Need(ADoc, u"userid").ToInt32();
    const QString photo = Need(ADoc, u"photofile").ToString();
    auto set = [&](TOtherUser& u) {
        u.SetPhotoFile(photo);
        u.TryDownloadPhotoFile(false);
    };
    TPersonLists::Contact(id, [&](TContact& c, TContactGroup*) { set(c); });
    TPersonLists::Members(id, set);
    TPersonLists::Colleagues([&](TDepartmentManager& m) { m.UpdateUserPhotoFile(id, photo); });
    TPersonLists::Holder(SearchResults(), id, set);
}

void OnGetUserInfoAck(const TBitDocument& ADoc, uint32_t)
{
    if (ErrorCode(ADoc) != 0) return;
    const int32_t id = Need(ADoc, u"userid").ToInt32();
    auto temp = std::make_shared<TOtherUser>();
    temp->SetUserId(id);
    temp->SetUserName(Need(ADoc, u"username").ToString());
    temp->SetUserType(Need(ADoc, u"usertype").ToInt16());
    ReadProfileFieldsStrict(*temp, *ADoc.Root(), TProfileRange::Full);
    TGlobalClient* client = GlobalClient();
    if (IsMe(id)) CopyToCurrentUser(client->CurrentUser(), *temp, true);

    auto copy = [&](TOtherUser& u) { CopyProfileFields(u, *temp, TProfileRange::Full); };
    TPersonLists::Contact(id, [&](TContact& c, TContactGroup* g) {
        copy(c);
        if (g) g->UpdateOnlineCount();
    });
    TPersonLists::Members(id, copy);
    TPersonLists::Colleagues([&](TDepartmentManager& m) {
        m.UpdateUserInfo(id, ADoc);
        m.UpdateOnlineCount();
    });
    TPersonLists::Holder(SearchResults(), id, copy);
    if (IPersonDownloads* d = PersonDownloads()) {
        if (temp->FaceFileLoss()) d->DelayDown(id, false, temp->FaceFile(), QString());
        if (temp->PhotoFileLoss()) d->DelayDown(id, false, QString(), temp->PhotoFile());
    }
    temp->SaveToCache();
    RaiseEvent(QStringLiteral("Client:OnOtherUserInfoChanged"), Id(id));
    RaiseEvent(QStringLiteral("Client:OnGetUserInfo"), uintptr_t(temp.get()));

    if (!client) return;
    QStringList& delayed = client->DelayStartChatList();
    const TCurrentUser& me = client->CurrentUser();
    const QString idText = QString::number(id), myIdText = QString::number(me.UserId());
    for (qsizetype i = delayed.size() - 1; i >= 0; --i) {
        const QString entry = delayed[i];
        if (entry == myIdText || entry == me.UserName()) {
            delayed.removeAt(i);
        } else if (entry == idText || entry == temp->UserName()) {
            if (TContactManager* m = ContactManager())
                m->StrangerNeeded(id, temp->UserName(), temp->NickName(), temp->ActualName(), true);
            RaiseEvent(QStringLiteral("Client:OnDelayStartChat"), Id(id));
            if (i < delayed.size() && delayed[i] == entry) delayed.removeAt(i);
        }
    }
}

// ---- answers to the user's own requests ----------------------------------------------------------

TCurrentUser* Me()
{
    TGlobalClient* c = GlobalClient();
    return c ? &c->CurrentUser() : nullptr;
}

void SaveRememberedName(TCurrentUser& me)
{
    TLocalUserManager& locals = GlobalClient()->LocalUserManager();
    if (TLocalUser* account = locals.FindLocalUser(me.UserId())) {
        account->NickName = me.NickName();
        account->ActualName = me.ActualName();
        locals.SaveLocalUsers();
    }
}

void OnRegisterAck(const TBitDocument& ADoc, uint32_t)
{
    const int32_t code = ErrorCode(ADoc);
    const int32_t id = code == 0 ? Need(ADoc, u"userid").ToInt32() : 0;
    RaiseEvent(QStringLiteral("Client:OnRegisterResult"), uintptr_t(uint32_t(code)), Id(id));
}

void OnChangeSignatureAck(const TBitDocument& ADoc, uint32_t)
{
    if (ErrorCode(ADoc) != 0) return;
    if (TCurrentUser* me = Me()) me->SetSignature(Need(ADoc, u"signature").ToString());
    RaiseEvent(QStringLiteral("Client:OnChangeSignature"));
}

void OnChangeUserInfoAck(const TBitDocument& ADoc, uint32_t)
{
    if (ErrorCode(ADoc) != 0) return;
    TOtherUser values;
    // The answer carries the 32 fields of the request (no department fields).
    for (const char16_t* key : {u"nickname", u"signature", u"actualname", u"sex", u"age", u"birth_year",
                                u"birth_month", u"birth_day", u"country", u"province", u"city", u"area",
                                u"address", u"telephone", u"telephone_short", u"telephone2", u"telephone2_short",
                                u"mobile", u"mobile_short", u"mobile2", u"mobile2_short", u"fax", u"qq", u"weixin",
                                u"weibo", u"email", u"roomname", u"roomnumber", u"idnumber", u"carnumber",
                                u"homepage", u"introduction"})
        Need(ADoc, key);
    ReadProfileFields(values, *ADoc.Root(), TProfileRange::InfoPush);
    TCurrentUser* me = Me();
    if (!me) return;
    const int32_t departId = me->DepartId();
    const QString departName = me->DepartName(), jobTitle = me->JobTitle(), jobNumber = me->JobNumber();
    CopyToCurrentUser(*me, values, false);
    me->SetDepartId(departId);
    me->SetDepartName(departName);
    me->SetJobTitle(jobTitle);
    me->SetJobNumber(jobNumber);
    RaiseEvent(QStringLiteral("Client:OnChangeUserInfo"));
    SaveRememberedName(*me);
}

void OnChangePasswordAck(const TBitDocument& ADoc, uint32_t)
{
    const int32_t code = ErrorCode(ADoc);
    TCurrentUser* me = Me();
    if (code == 0 && me) {
        TLocalUserManager& locals = GlobalClient()->LocalUserManager();
        if (TLocalUser* account = locals.FindLocalUser(me->UserId())) {
            account->Password = me->TempNewPassword();
            locals.SaveLocalUsers();
        }
    }
    RaiseEvent(QStringLiteral("Client:OnChangePassword"), uintptr_t(uint32_t(code)));
}

void OnChangeLinkDepartAck(const TBitDocument& ADoc, uint32_t)
{
    if (ErrorCode(ADoc) != 0) return;
    const int32_t link = Need(ADoc, u"linkdepartid").ToInt32();
    if (TCurrentUser* me = Me()) me->SetLinkDepartId(link);
    RaiseEvent(QStringLiteral("Client:OnChangeLinkDepart"), Id(link));
}

void OnUpdateUserJoinSettingAck(const TBitDocument& ADoc, uint32_t)
{
    if (ErrorCode(ADoc) != 0) return;
    TCurrentUser* me = Me();
    if (!me) return;
    me->SetOnlyFindMeById(Need(ADoc, u"onlyfindmebyid").ToInt16() == 1);
    me->SetJoinSetting(JoinSettingFromWire(Need(ADoc, u"joinsetting").ToUInt8()));
    me->SetJoinQuestion(Need(ADoc, u"joinquestion").ToString());
    me->SetJoinAnswer(Need(ADoc, u"joinanswer").ToString());
}

void OnGetPwdProtectionAck(const TBitDocument& ADoc, uint32_t)
{
    const int32_t code = ErrorCode(ADoc);
    if (TCurrentUser* me = Me()) {
        if (code == 0) {
            me->SetPwdProtection_Question1(Need(ADoc, u"question1").ToString());
            me->SetPwdProtection_Question2(Need(ADoc, u"question2").ToString());
            me->SetPwdProtection_Question3(Need(ADoc, u"question3").ToString());
            me->SetIsSetPwdProtection(true);
        } else if (code == 5) {
            me->SetIsSetPwdProtection(false);
            me->SetPwdProtection_Question1({});
            me->SetPwdProtection_Question2({});
            me->SetPwdProtection_Question3({});
        }
    }
    RaiseEvent(QStringLiteral("Client:OnGetPwdProtection"));
}

void OnSetPwdProtectionAck(const TBitDocument& ADoc, uint32_t)
{
    if (ErrorCode(ADoc) == 0) RaiseEvent(QStringLiteral("Client:OnSetPwdProtection"));
}

void OnValidatePwdProtectionAck(const TBitDocument& ADoc, uint32_t)
{
    RaiseEvent(QStringLiteral("Client:OnValidatePwdProtection"), ErrorCode(ADoc) == 0 ? 0 : 1);
}

void OnUpdateSMSLimitAck(const TBitDocument& ADoc, uint32_t)
{
    if (ErrorCode(ADoc) != 0) return;
    TCurrentUser* me = Me();
    if (!me) return;
    me->SetSMSTotal(Need(ADoc, u"smstotal").ToInt32());
    me->SetSMSDayStart(UTCToLocalTime(Need(ADoc, u"smsdaystart").ToFloat64()));
    me->SetSMSDayLimit(Need(ADoc, u"smsdaylimit").ToInt32());
    me->SetSMSDaySended(Need(ADoc, u"smsdaysended").ToInt32());
    me->SetSMSTotalSended(Need(ADoc, u"smstotalsended").ToInt32());
}

void OnChangeLoginStatusAck(const TBitDocument&, uint32_t) {}

} // namespace

void RegisterUserDocumentHandlers(TNotifyFromServer& ADispatcher)
{
    struct TEntry {
        const char* Name;
        TNotifyFromServer::THandler Handler;
    };
    // "Server:ForceOffline" belongs to the session itself.
    const TEntry table[] = {
        {"Users.Register[ACK]", OnRegisterAck},
        {"Users.GetUserInfo[ACK]", OnGetUserInfoAck},
        {"Users.ChangeUserInfo[ACK]", OnChangeUserInfoAck},
        {"Users.ChangeSignature[ACK]", OnChangeSignatureAck},
        {"Users.ChangeLoginStatus[ACK]", OnChangeLoginStatusAck},
        {"Users.UpdateUserJoinSetting[ACK]", OnUpdateUserJoinSettingAck},
        {"Users.GetPwdProtection[ACK]", OnGetPwdProtectionAck},
        {"Users.SetPwdProtection[ACK]", OnSetPwdProtectionAck},
        {"Users.ValidatePwdProtection[ACK]", OnValidatePwdProtectionAck},
        {"Users.ChangePassword[ACK]", OnChangePasswordAck},
        {"Users.UpdateSMSLimit[ACK]", OnUpdateSMSLimitAck},
        {"Users.ChangeLinkDepart[ACK]", OnChangeLinkDepartAck},
        {"Server:OtherUserLogin", OnOtherUserLogin},
        {"Server:OtherUserLogout", OnOtherUserLogout},
        {"Server:OtherUserLoginStatusChanged", OnOtherUserLoginStatusChanged},
        {"Server:OtherUserInfoChanged", OnOtherUserInfoChanged},
        {"Server:OtherUserSignatureChanged", OnOtherUserSignatureChanged},
        {"Server:OtherUserFaceChanged", OnOtherUserFaceChanged},
        {"Server:OtherUserPhotoChanged", OnOtherUserPhotoChanged},
    };
    for (const TEntry& e : table) ADispatcher.RegisterHandler(QString::fromLatin1(e.Name), e.Handler);
}

} // namespace pelvox
