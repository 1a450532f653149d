#include "data/Client_Contacts.h"
#include "core/BitDocument.h"
#include "core/Client_BindingEvents.h"
#include "core/Client_PersonDownloads.h"
#include "data/Client_DocReading.h"
#include "platform/Text.h"
#include <algorithm>

namespace pelvox {

namespace {

void Bump(const TIndexVersion& AVersion)
{
    if (AVersion) AVersion->fetch_add(1, std::memory_order_relaxed);
}

// Whether the text is exactly the decimal text of an id, and which.
bool DecimalId(const QString& AText, int32_t& AId)
{
    bool ok = false;
    AId = AText.toInt(&ok);
    return ok && QString::number(AId) == AText;
}

bool Matches(const TContact& c, const QString& AText)
{
    return QString::number(c.UserId()) == AText || c.UserName() == AText;
}

} // namespace

// ---- lists ---------------------------------------------------------------------------

void TContactList::Touch() { Bump(FVersion); }

int TContactList::Add(TContactPtr AItem)
{
    AItem->FVersion = FVersion;
    FItems.push_back(std::move(AItem));
    Touch();
    return int(FItems.size()) - 1;
}

void TContactList::Insert(int AIndex, TContactPtr AItem)
{
    AItem->FVersion = FVersion;
    AIndex = std::clamp(AIndex, 0, Count());
    FItems.insert(FItems.begin() + AIndex, std::move(AItem));
    Touch();
}

bool TContactList::Remove(const TContact* AItem)
{
    auto it = std::find_if(FItems.begin(), FItems.end(), [AItem](const TContactPtr& p) { return p.get() == AItem; });
    if (it == FItems.end()) return false;
    (*it)->FVersion.reset();
    FItems.erase(it);
    Touch();
    return true;
}

int TContactList::IndexOf(const TContact* AItem) const
{
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == AItem) return int(i);
    return -1;
}

void TContact::IdentityChanged() { Bump(FVersion); }

int TContactGroupList::Add(TContactGroupPtr AGroup)
{
    AGroup->ContactList().FVersion = FVersion;
    for (const auto& c : AGroup->ContactList()) c->FVersion = FVersion;
    FItems.push_back(std::move(AGroup));
    Bump(FVersion);
    return int(FItems.size()) - 1;
}

bool TContactGroupList::Remove(const TContactGroup* AGroup)
{
    auto it = std::find_if(FItems.begin(), FItems.end(), [AGroup](const auto& p) { return p.get() == AGroup; });
    if (it == FItems.end()) return false;
    FItems.erase(it);
    Bump(FVersion);
    return true;
}

void TContactGroupList::Clear()
{
    FItems.clear();
    Bump(FVersion);
}

// ---- TContactGroup ----------------------------------------------------------------

TContactGroup::TContactGroup(TIndexVersion AVersion) { FContactList.FVersion = std::move(AVersion); }

void TContactGroup::AddContact(const TContactPtr& AContact)
{
    AContact->SetContactGroup(shared_from_this());
    FContactList.Add(AContact);
}

void TContactGroup::InsertContact(int AIndex, const TContactPtr& AContact)
{
    AContact->SetContactGroup(shared_from_this());
    FContactList.Insert(AIndex, AContact);
}

TContact* TContactGroup::FindContact(const QString& AUserIdOrName) const
{
    for (const auto& c : FContactList)
        if (Matches(*c, AUserIdOrName)) return c.get();
    return nullptr;
}

void TContactGroup::UpdateOnlineCount()
{
    FOnlineCount = int32_t(std::count_if(FContactList.begin(), FContactList.end(),
                                         [](const TContactPtr& c) { return c->IsOnline(); }));
}

// ---- TContactManager ----------------------------------------------------------------

TContactManager::TContactManager() : FVersion(std::make_shared<std::atomic<uint64_t>>(0))
{
    FGroups.FVersion = FVersion;
}

TContactGroupPtr TContactManager::NewGroup(int32_t AId, const QString& AName)
{
    auto g = std::make_shared<TContactGroup>(FVersion);
    g->SetContactGroupId(AId);
    g->SetContactGroupName(AName);
    return g;
}

void TContactManager::InitWhenLoginSuccess(const TBitDocument& ADoc)
{
    std::lock_guard guard(FLock);
    FGroups.Clear();
    const TLocalFileSnapshot snapshot = TLocalFileSnapshot::Take();
    if (const TBitNode* groups = ADoc.FindNode(u"contactgroups")) {
        for (const TBitNode* ge : groups->ChildNodes()) {
            auto g = NewGroup(0, QString());
            FGroups.Add(g);
            const TBitNode* contacts = nullptr;
            for (const TBitNode* n : ge->ChildNodes()) {
                switch (DollarSlot(n->NodeName())) {
                case 100: g->SetContactGroupId(n->ToInt32()); break;
                case 200: g->SetContactGroupName(n->ToString()); break;
                case 300: g->SetHideWhenOnline(n->ToInt16()); break;
                case 400: g->SetOnlineWhenHide(n->ToInt16()); break;
                case 500: g->SetRemindMeWhenLogin(n->ToInt16()); break;
                case 600: g->SetNoMessage(n->ToInt16()); break;
                default:
                    if (n->NodeName() == u"contacts") contacts = n;
                    break;
                }
            }
            switch (g->ContactGroupId()) {
            case 0: FMyContacts = g; break;
            case 1: FStrangers = g; break;
            case 2: FBlackList = g; break;
            default: break;
            }
            if (!contacts) continue;
            for (const TBitNode* ce : contacts->ChildNodes()) {
                auto c = std::make_shared<TContact>();
                g->AddContact(c);
                const TBitNode* idNode = ce->ChildNodes().FindNode(u"$1");
                c->SetUserId(idNode ? idNode->ToInt32() : 0);
                c->LoadFromCache(c->UserId(), snapshot);
                const double cachedModifyTime = c->ModifyTime();
                for (const TBitNode* n : ce->ChildNodes()) {
                    switch (DollarSlot(n->NodeName())) {
                    case 100: c->SetUserId(n->ToInt32()); break;
                    case 300: c->SetRemarkName(n->ToString()); break;
                    case 400: c->SetHideWhenOnline(n->ToInt16()); break;
                    case 500: c->SetOnlineWhenHide(n->ToInt16()); break;
                    case 600: c->SetRemindMeWhenLogin(n->ToInt16()); break;
                    case 700: c->SetNoMessage(n->ToInt16()); break;
                    case 800: c->SetUserName(n->ToString()); break;
                    case 900: c->SetUserType(n->ToInt16()); break;
                    case 1000: c->SetNickName(n->ToString()); break;
                    case 1100: c->SetActualName(n->ToString()); break;
                    case 1200: c->SetSex(SexFromWire(n->ToInt16())); break;
                    case 1300: c->SetDepartId(n->ToInt32()); break;
                    case 1400: c->SetDepartName(n->ToString()); break;
                    case 1500: c->SetFaceFile(n->ToString()); break;
                    case 1600: c->SetPhotoFile(n->ToString()); break;
                    case 1700: c->SetLoginStatus(LoginStatusFromWire(n->ToUInt8())); break;
                    case 2000: c->SetModifyTime(n->ToFloat64()); break;
                    default: break;
                    }
                }
                if (IPersonDownloads* d = PersonDownloads()) {
                    if (c->ModifyTime() > cachedModifyTime) d->DelayDown(c->UserId(), true, QString(), QString());
                    if (c->FaceFileLoss(snapshot)) d->DelayDown(c->UserId(), false, c->FaceFile(), QString());
                    if (c->PhotoFileLoss(snapshot)) d->DelayDown(c->UserId(), false, QString(), c->PhotoFile());
                }
                c->RebuildFaceImage(&snapshot);
            }
            g->UpdateOnlineCount();
        }
    }
    EnsureFixedGroups();
}

void TContactManager::EnsureFixedGroups()
{
    // The server always has the three fixed groups; an answer without one
    // must not leave the client without a place for strangers.
    auto ensure = [this](TContactGroupPtr& ref, int32_t id, const char* name) {
        for (const auto& g : FGroups)
            if (g->ContactGroupId() == id) {
                ref = g;
                return;
            }
        ref = NewGroup(id, QString::fromLatin1(name));
        FGroups.Add(ref);
    };
    ensure(FMyContacts, 0, "My Contacts");
    ensure(FStrangers, 1, "Strangers");
    ensure(FBlackList, 2, "Black List");
}

void TContactManager::UpdateDataWhenLogout()
{
    std::lock_guard guard(FLock);
    for (const auto& g : FGroups) {
        for (const auto& c : g->ContactList()) c->SetLoginStatus(lsOffline);
        g->UpdateOnlineCount();
    }
}

TContactGroup* TContactManager::GetContactGroup(int32_t AContactGroupId, bool ALock)
{
    switch (AContactGroupId) {
    case 0: return FMyContacts.get();
    case 1: return FStrangers.get();
    case 2: return FBlackList.get();
    default: break;
    }
    std::unique_lock guard(FLock, std::defer_lock);
    if (ALock) guard.lock();
    for (const auto& g : FGroups)
        if (g->ContactGroupId() == AContactGroupId) return g.get();
    return nullptr;
}

void TContactManager::EnsureIndex()
{
    const uint64_t v = FVersion->load(std::memory_order_relaxed);
    if (v == FIndexedVersion) return;
    FById.clear();
    FByName.clear();
    uint32_t order = 0;
    for (const auto& g : FGroups)
        for (const auto& c : g->ContactList()) {
            const TIndexEntry e{c.get(), g.get(), order++};
            FById.emplace(c->UserId(), e);
            if (!FByName.contains(c->UserName())) FByName.insert(c->UserName(), e);
        }
    FIndexedVersion = v;
}

TContact* TContactManager::FindContact(const QString& AUserIdOrName, TContactGroup*& AContactGroup, bool ALock)
{
    std::unique_lock guard(FLock, std::defer_lock);
    if (ALock) guard.lock();
    EnsureIndex();
    const TIndexEntry* best = nullptr;
    int32_t id = 0;
    if (DecimalId(AUserIdOrName, id)) {
        auto it = FById.find(id);
        if (it != FById.end()) best = &it->second;
    }
    auto nit = FByName.constFind(AUserIdOrName);
    if (nit != FByName.constEnd() && (!best || nit->Order < best->Order)) best = &nit.value();
    AContactGroup = best ? best->Group : nullptr;
    return best ? best->Contact : nullptr;
}

TContact* TContactManager::FindContact(const QString& AUserIdOrName, bool ALock)
{
    TContactGroup* group = nullptr;
    return FindContact(AUserIdOrName, group, ALock);
}

TContact* TContactManager::FindContactById(int32_t AUserId, bool ALock)
{
    std::unique_lock guard(FLock, std::defer_lock);
    if (ALock) guard.lock();
    EnsureIndex();
    auto it = FById.find(AUserId);
    return it == FById.end() ? nullptr : it->second.Contact;
}

int TContactManager::ContactCount() const
{
    int n = 0;
    for (const auto& g : FGroups) n += g->ContactList().Count();
    return n;
}

// ---- requests -------------------------------------------------------------------------

namespace {

template <class Fill>
void SendContactsRequest(const QString& AName, Fill&& AFill)
{
    ISession* s = Session();
    if (!s || !s->Logined()) return;
    TBitDocument doc(AName);
    AFill(*doc.Root());
    s->SendMainCmdData(doc, false);
}

void AddFlags(TBitNode& r, int16_t a, int16_t b, int16_t c, int16_t d)
{
    r.AddInt16Node(QStringLiteral("hidewhenonline"), a);
    r.AddInt16Node(QStringLiteral("onlinewhenhide"), b);
    r.AddInt16Node(QStringLiteral("remindmewhenlogin"), c);
    r.AddInt16Node(QStringLiteral("nomessage"), d);
}

QString TrimCut(const QString& AText, int ALimit) { return CutText(Trim(AText), ALimit); }

} // namespace

void TContactManager::AddContactGroup(const QString& contactgroupname)
{
    SendContactsRequest(QStringLiteral("Contacts.AddContactGroup"), [&](TBitNode& r) {
        r.AddStringNode(QStringLiteral("contactgroupname"), TrimCut(contactgroupname, 20));
    });
}

void TContactManager::RemoveContactGroup(int32_t contactgroupid)
{
    SendContactsRequest(QStringLiteral("Contacts.RemoveContactGroup"),
                        [&](TBitNode& r) { r.AddInt32Node(QStringLiteral("contactgroupid"), contactgroupid); });
}

void TContactManager::ChangeContactGroupName(int32_t contactgroupid, const QString& contactgroupname)
{
    SendContactsRequest(QStringLiteral("Contacts.ChangeContactGroupName"), [&](TBitNode& r) {
        r.AddInt32Node(QStringLiteral("contactgroupid"), contactgroupid);
        r.AddStringNode(QStringLiteral("contactgroupname"), TrimCut(contactgroupname, 20));
    });
}

void TContactManager::ChangeContactGroupSetting(int32_t contactgroupid, int16_t hidewhenonline,
                                                int16_t onlinewhenhide, int16_t remindmewhenlogin, int16_t nomessage)
{
    SendContactsRequest(QStringLiteral("Contacts.ChangeContactGroupSetting"), [&](TBitNode& r) {
        r.AddInt32Node(QStringLiteral("contactgroupid"), contactgroupid);
        AddFlags(r, hidewhenonline, onlinewhenhide, remindmewhenlogin, nomessage);
    });
}

void TContactManager::AddContact(int32_t contactgroupid, int32_t contactid, const QString& remarkname)
{
    SendContactsRequest(QStringLiteral("Contacts.AddContact"), [&](TBitNode& r) {
        r.AddInt32Node(QStringLiteral("contactgroupid"), contactgroupid);
        r.AddInt32Node(QStringLiteral("contactid"), contactid);
        r.AddStringNode(QStringLiteral("remarkname"), remarkname);
    });
}

void TContactManager::RemoveContact(int32_t contactid, bool ARemoveOtherSide)
{
    SendContactsRequest(QStringLiteral("Contacts.RemoveContact"), [&](TBitNode& r) {
        r.AddInt32Node(QStringLiteral("contactid"), contactid);
        r.AddInt16Node(QStringLiteral("removeotherside"), ARemoveOtherSide ? 1 : 0);
    });
}

void TContactManager::ChangeContactRemarkName(int32_t contactid, const QString& remarkname)
{
    SendContactsRequest(QStringLiteral("Contacts.ChangeContactRemarkName"), [&](TBitNode& r) {
        r.AddInt32Node(QStringLiteral("contactid"), contactid);
        r.AddStringNode(QStringLiteral("remarkname"), TrimCut(remarkname, 20));
    });
}

void TContactManager::MoveContact(int32_t contactid, int32_t contactgroupid)
{
    SendContactsRequest(QStringLiteral("Contacts.MoveContact"), [&](TBitNode& r) {
        r.AddInt32Node(QStringLiteral("contactid"), contactid);
        r.AddInt32Node(QStringLiteral("contactgroupid"), contactgroupid);
    });
}

void TContactManager::MoveToBlackList(int32_t contactid)
{
    SendContactsRequest(QStringLiteral("Contacts.MoveToBlackList"),
                        [&](TBitNode& r) { r.AddInt32Node(QStringLiteral("contactid"), contactid); });
}

void TContactManager::ChangeContactSetting(int32_t contactid, int16_t hidewhenonline, int16_t onlinewhenhide,
                                           int16_t remindmewhenlogin, int16_t nomessage)
{
    SendContactsRequest(QStringLiteral("Contacts.ChangeContactSetting"), [&](TBitNode& r) {
        r.AddInt32Node(QStringLiteral("contactid"), contactid);
        AddFlags(r, hidewhenonline, onlinewhenhide, remindmewhenlogin, nomessage);
    });
}

void TContactManager::StrangerNeeded(int32_t AUserId, const QString& AUserName, const QString& ANickName,
                                     const QString& AActualName, bool ALock)
{
    std::unique_lock guard(FLock, std::defer_lock);
    if (ALock) guard.lock();
    if (FindContactById(AUserId, false)) return;
    if (!FStrangers) EnsureFixedGroups();
    auto c = std::make_shared<TContact>();
    c->SetUserId(AUserId);
    c->SetUserName(AUserName);
    c->SetNickName(ANickName);
    c->SetActualName(AActualName);
    c->SetSex(usNone);
    FStrangers->InsertContact(0, c);
    RaiseEvent(QStringLiteral("Client:OnAddContact"), 1, uintptr_t(uint32_t(AUserId)));
    AddContact(1, AUserId, QString());
}

} // namespace pelvox
