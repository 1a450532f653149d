#include "data/Client_Departments.h"
#include "core/BitDocument.h"
#include "core/Client_PersonDownloads.h"
#include "data/Client_DocReading.h"
#include <algorithm>

namespace pelvox {

// ---- TDepartNode ----------------------------------------------------------------

void TDepartNode::UpdateOnlineCount()
{
    if (!IsDepartment()) return;
    int32_t online = 0, users = 0;
    std::vector<const TDepartNode*> stack{this};
    while (!stack.empty()) {
        const TDepartNode* n = stack.back();
        stack.pop_back();
        for (const auto& c : n->FChildNodes) {
            if (c->IsColleague()) {
                ++users;
                online += c->IsOnline() ? 1 : 0;
            } else {
                stack.push_back(c.get());
            }
        }
    }
    FOnlineCount = online;
    FChildUserCount = users;
}

void TDepartNode::LoginStatusChanged(TLoginStatus AOld, TLoginStatus ANew)
{
    const int delta = int(IsOnlineStatus(ANew)) - int(IsOnlineStatus(AOld));
    if (delta == 0 || !IsColleague()) return;
    for (TDepartNode* p = FParent; p; p = p->FParent) p->FOnlineCount += delta;
}

// ---- TDepartmentManager -----------------------------------------------------------

TDepartmentManager::TDepartmentManager() = default;

TDepartmentManager::~TDepartmentManager() { Detach(); }

void TDepartmentManager::Detach()
{
    // Nodes held elsewhere outlive the tree; they no longer feed its counts.
    std::vector<TDepartNode*> stack;
    for (const auto& n : FChildNodes) stack.push_back(n.get());
    while (!stack.empty()) {
        TDepartNode* n = stack.back();
        stack.pop_back();
        n->FParent = nullptr;
        for (const auto& c : n->FChildNodes) stack.push_back(c.get());
    }
    FChildNodes.Clear();
    FColleagues.clear();
    FById.clear();
    FByName.clear();
    FDepartById.clear();
}

namespace {

struct TDepartmentItem {
    int64_t DepartId = 0;
    QString DepartName;
    int64_t ParentDepartId = 0;
};

struct TDepartUserItem {
    int32_t UserId = 0;
    QString UserName;
    int16_t UserType = 0;
    QString NickName, ActualName;
    int16_t Sex = 0;
    QString Phones[8]; // "$6.1" .. "$6.8"
    int64_t DepartId = 0;
    QString DepartName, FaceFile, PhotoFile;
    uint8_t LoginStatus = 0;
    int32_t UserPosition = 0;
    double ModifyTime = 0;
};

TDepartmentItem ReadDepartment(const TBitNode& AEntry)
{
    TDepartmentItem d;
    for (const TBitNode* n : AEntry.ChildNodes()) {
        switch (DollarSlot(n->NodeName())) {
        case 100: d.DepartId = n->ToInt64(); break;
        case 200: d.DepartName = n->ToString(); break;
        case 300: d.ParentDepartId = n->ToInt64(); break;
        default: break;
        }
    }
    return d;
}

TDepartUserItem ReadDepartUser(const TBitNode& AEntry)
{
    TDepartUserItem u;
    for (const TBitNode* n : AEntry.ChildNodes()) {
        const int slot = DollarSlot(n->NodeName());
        if (slot >= 601 && slot <= 608) {
            u.Phones[slot - 601] = n->ToString();
            continue;
        }
        switch (slot) {
        case 100: u.UserId = n->ToInt32(); break;
        case 200: u.UserName = n->ToString(); break;
        case 300: u.UserType = n->ToInt16(); break;
        case 400: u.NickName = n->ToString(); break;
        case 500: u.ActualName = n->ToString(); break;
        case 600: u.Sex = n->ToInt16(); break;
        case 700: u.DepartId = n->ToInt32(); break;
        case 800: u.DepartName = n->ToString(); break;
        case 900: u.FaceFile = n->ToString(); break;
        case 1000: u.PhotoFile = n->ToString(); break;
        case 1100: u.LoginStatus = n->ToUInt8(); break;
        case 1200: u.UserPosition = n->ToInt32(); break;
        case 1400: u.ModifyTime = n->ToFloat64(); break;
        default: break;
        }
    }
    return u;
}

void QueueDelayDowns(TOtherUser& AUser, double ACachedModifyTime, const TLocalFileSnapshot& ASnapshot)
{
    IPersonDownloads* d = PersonDownloads();
    if (!d) return;
    if (AUser.ModifyTime() > ACachedModifyTime) d->DelayDown(AUser.UserId(), true, QString(), QString());
    if (AUser.FaceFileLoss(ASnapshot)) d->DelayDown(AUser.UserId(), false, AUser.FaceFile(), QString());
    if (AUser.PhotoFileLoss(ASnapshot)) d->DelayDown(AUser.UserId(), false, QString(), AUser.PhotoFile());
}

} // namespace

TDepartmentManager::TAnswerKey TDepartmentManager::KeyOf(const TBitDocument& ADoc)
{
    const TBitNode* users = ADoc.FindNode(u"departmentusers");
    return {&ADoc, users, users ? users->ChildNodes().Count() : -1};
}

void TDepartmentManager::PrepareLoginData(const TBitDocument& ADoc)
{
    auto fresh = std::make_unique<TDepartmentManager>();
    fresh->BuildFromAnswer(ADoc);
    std::lock_guard guard(FPreparedLock);
    FPrepared = std::move(fresh);
    FPreparedKey = KeyOf(ADoc);
}

void TDepartmentManager::TakeTree(TDepartmentManager& AOther)
{
    std::swap(FChildNodes, AOther.FChildNodes);
    std::swap(FColleagues, AOther.FColleagues);
    std::swap(FById, AOther.FById);
    std::swap(FByName, AOther.FByName);
    std::swap(FDepartById, AOther.FDepartById);
    std::swap(FCountsDirty, AOther.FCountsDirty);
}

void TDepartmentManager::InitWhenLoginSuccess(const TBitDocument& ADoc)
{
    std::unique_ptr<TDepartmentManager> prepared;
    {
        std::lock_guard guard(FPreparedLock);
        if (FPrepared && FPreparedKey == KeyOf(ADoc)) prepared = std::move(FPrepared);
        FPrepared.reset();
    }
    if (!prepared) {
        // Nobody prepared this answer: build it here.
        prepared = std::make_unique<TDepartmentManager>();
        prepared->BuildFromAnswer(ADoc);
    }
    std::lock_guard guard(FLock);
    // The old tree leaves with the helper, which detaches it as it goes.
    TakeTree(*prepared);
}

void TDepartmentManager::BuildFromAnswer(const TBitDocument& ADoc)
{
    Detach();
    const TBitNode* departments = ADoc.FindNode(u"departments");
    if (!departments) return;

    // Records grouped by parent id; placing a group consumes it, so a record
    // is placed at most once and cycles end by themselves.
    std::unordered_map<int64_t, std::vector<TDepartmentItem>> byParent;
    for (const TBitNode* e : departments->ChildNodes()) {
        TDepartmentItem item = ReadDepartment(*e);
        byParent[item.ParentDepartId].push_back(std::move(item));
    }
    auto place = [&byParent](int64_t AParentId, TDepartNodeList& AList, TDepartNode* AParent) {
        auto it = byParent.find(AParentId);
        if (it == byParent.end()) return;
        std::vector<TDepartmentItem> items = std::move(it->second);
        byParent.erase(it);
        for (TDepartmentItem& item : items) {
            auto node = std::make_shared<TDepartNode>();
            node->FNodeType = 0;
            node->FNodeId = item.DepartId;
            node->FNodeName = std::move(item.DepartName);
            node->FParentNodeId = item.ParentDepartId;
            node->FParent = AParent;
            AList.Add(std::move(node));
        }
    };
    // Depth-first, each level in answer order; an explicit stack keeps a deep
    // tree from exhausting the call stack.
    std::vector<TDepartNode*> departOrder;
    place(0, FChildNodes, nullptr);
    std::vector<TDepartNode*> stack;
    for (auto it = FChildNodes.end(); it != FChildNodes.begin();) stack.push_back((--it)->get());
    while (!stack.empty()) {
        TDepartNode* n = stack.back();
        stack.pop_back();
        departOrder.push_back(n);
        const int before = n->FChildNodes.Count();
        place(n->FNodeId, n->FChildNodes, n);
        for (int i = n->FChildNodes.Count() - 1; i >= before; --i) stack.push_back(n->FChildNodes.Items(i));
    }

    const TBitNode* users = ADoc.FindNode(u"departmentusers");
    if (!users) {
        BuildIndexes();
        return;
    }
    std::unordered_map<int64_t, std::vector<TDepartUserItem>> byDepart;
    for (const TBitNode* e : users->ChildNodes()) {
        TDepartUserItem item = ReadDepartUser(*e);
        byDepart[item.DepartId].push_back(std::move(item));
    }
    const TLocalFileSnapshot snapshot = TLocalFileSnapshot::Take();
    for (TDepartNode* dep : departOrder) {
        auto it = byDepart.find(dep->FNodeId);
        if (it == byDepart.end()) continue;
        std::vector<TDepartUserItem> items = std::move(it->second);
        byDepart.erase(it);
        for (TDepartUserItem& r : items) {
            auto node = std::make_shared<TDepartNode>();
            node->FNodeType = 1;
            node->FUserId = r.UserId;
            node->LoadFromCache(r.UserId, snapshot);
            const double cachedModifyTime = node->FModifyTime;
            node->FUserName = std::move(r.UserName);
            node->FUserType = r.UserType;
            node->FNickName = std::move(r.NickName);
            node->FActualName = std::move(r.ActualName);
            node->FSex = SexFromWire(r.Sex);
            QString* phones[8] = {&node->FTelephone, &node->FTelephone_Short, &node->FTelephone2,
                                  &node->FTelephone2_Short, &node->FMobile, &node->FMobile_Short,
                                  &node->FMobile2, &node->FMobile2_Short};
            for (int i = 0; i < 8; ++i) *phones[i] = std::move(r.Phones[i]);
            node->FDepartId = int32_t(r.DepartId);
            node->FDepartName = std::move(r.DepartName);
            node->FFaceFile = std::move(r.FaceFile);
            node->FPhotoFile = std::move(r.PhotoFile);
            node->FLoginStatus = LoginStatusFromWire(r.LoginStatus); // not yet in the tree: no counting
            node->FUserPosition = r.UserPosition;
            node->FModifyTime = r.ModifyTime;
            QueueDelayDowns(*node, cachedModifyTime, snapshot);
            node->FParent = dep;
            TDepartNode* raw = node.get();
            dep->FChildNodes.Add(std::move(node));
            raw->RebuildFaceImage(&snapshot);
        }
    }
    BuildIndexes();
    RecountAll();
}

void TDepartmentManager::BuildIndexes()
{
    FColleagues.clear();
    FById.clear();
    FByName.clear();
    FDepartById.clear();
    std::vector<TDepartNode*> stack;
    for (auto it = FChildNodes.end(); it != FChildNodes.begin();) stack.push_back((--it)->get());
    uint32_t order = 0;
    while (!stack.empty()) {
        TDepartNode* n = stack.back();
        stack.pop_back();
        if (n->IsColleague()) {
            n->FOrder = order++;
            FColleagues.push_back(n);
            FById[n->FUserId].push_back(n);
            FByName.insert(n->FUserName, n); // a later duplicate must not replace the first
            continue;
        }
        FDepartById.emplace(n->FNodeId, n);
        for (auto it = n->FChildNodes.end(); it != n->FChildNodes.begin();) stack.push_back((--it)->get());
    }
    // QHash::insert replaces: redo the name index keeping the first in tree order.
    FByName.clear();
    FByName.reserve(qsizetype(FColleagues.size()));
    for (TDepartNode* n : FColleagues)
        if (!FByName.contains(n->FUserName)) FByName.insert(n->FUserName, n);
}

void TDepartmentManager::RecountAll()
{
    // Post-order over the departments: children first.
    std::vector<TDepartNode*> order;
    std::vector<TDepartNode*> stack;
    for (const auto& n : FChildNodes) stack.push_back(n.get());
    while (!stack.empty()) {
        TDepartNode* n = stack.back();
        stack.pop_back();
        if (!n->IsDepartment()) continue;
        order.push_back(n);
        for (const auto& c : n->FChildNodes) stack.push_back(c.get());
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        TDepartNode* n = *it;
        if (n->FChildNodes.Count() == 0) continue; // keeps what it has
        int32_t online = 0, users = 0;
        for (const auto& c : n->FChildNodes) {
            if (c->IsColleague()) {
                ++users;
                online += c->IsOnline() ? 1 : 0;
            } else {
                users += c->FChildUserCount;
                online += c->FOnlineCount;
            }
        }
        n->FOnlineCount = online;
        n->FChildUserCount = users;
    }
    FCountsDirty = false;
}

void TDepartmentManager::UpdateOnlineCount()
{
    if (FCountsDirty) RecountAll();
}

void TDepartmentManager::UpdateDataWhenLogout()
{
    {
        std::lock_guard guard(FPreparedLock);
        FPrepared.reset(); // an answer that was never applied
    }
    UpdateUserLoginStatus(0, lsOffline);
    UpdateOnlineCount();
}

TDepartNode* TDepartmentManager::FindDepartNode(int64_t ANodeId) const
{
    auto it = FDepartById.find(ANodeId);
    return it == FDepartById.end() ? nullptr : it->second;
}

TDepartNode* TDepartmentManager::FindDepartUser(const QString& AUserIdOrName) const
{
    TDepartNode* byId = nullptr;
    bool ok = false;
    const int32_t id = AUserIdOrName.toInt(&ok);
    // Only the exact decimal text of an id matches it ("007" is not 7).
    if (ok && QString::number(id) == AUserIdOrName) {
        auto it = FById.find(id);
        if (it != FById.end() && !it->second.empty()) byId = it->second.front();
    }
    auto nit = FByName.constFind(AUserIdOrName);
    TDepartNode* byName = nit == FByName.constEnd() ? nullptr : nit.value();
    if (!byId) return byName;
    if (!byName) return byId;
    return byId->FOrder <= byName->FOrder ? byId : byName;
}

TDepartNodePtr TDepartmentManager::FindDepartUserShared(const QString& AUserIdOrName) const
{
    TDepartNode* n = FindDepartUser(AUserIdOrName);
    return n ? std::static_pointer_cast<TDepartNode>(n->shared_from_this()) : nullptr;
}

const std::vector<TDepartNode*>& TDepartmentManager::DepartUsersOf(int32_t AUserId) const
{
    static const std::vector<TDepartNode*> none;
    auto it = FById.find(AUserId);
    return it == FById.end() ? none : it->second;
}

void TDepartmentManager::GetDepartUserList(int64_t AParentNodeId, std::vector<TDepartNode*>& AList) const
{
    if (AParentNodeId <= 0) {
        AList.insert(AList.end(), FColleagues.begin(), FColleagues.end());
        return;
    }
    const TDepartNode* top = FindDepartNode(AParentNodeId);
    if (!top) return;
    std::vector<const TDepartNode*> stack{top};
    while (!stack.empty()) {
        const TDepartNode* n = stack.back();
        stack.pop_back();
        for (auto it = n->FChildNodes.end(); it != n->FChildNodes.begin();) {
            const TDepartNode* c = (--it)->get();
            if (c->IsDepartment()) stack.push_back(c);
        }
        for (const auto& c : n->FChildNodes)
            if (c->IsColleague()) AList.push_back(c.get());
    }
}

QString TDepartmentManager::GetLongDepartName(const QString& AUserIdOrName) const
{
    const TDepartNode* user = FindDepartUser(AUserIdOrName);
    if (!user) return {};
    const TDepartNode* node = FindDepartNode(user->DepartId());
    if (!node) return user->DepartName(); // a department outside the tree: its own name
    QString result = user->DepartName() != node->NodeName() ? user->DepartName() : QString();
    for (; node; node = FindDepartNode(node->ParentNodeId()))
        result = result.isEmpty() ? node->NodeName() : node->NodeName() + u'/' + result;
    return result;
}

template <class Fn>
void TDepartmentManager::ForEachColleague(int32_t AUserId, Fn&& fn)
{
    auto it = FById.find(AUserId);
    if (it == FById.end()) return;
    // A copy: fn may look the tree up again.
    const std::vector<TDepartNode*> nodes = it->second;
    for (TDepartNode* n : nodes) fn(*n);
}

void TDepartmentManager::UpdateUserLoginStatus(int32_t AUserId, TLoginStatus ALoginStatus)
{
    auto apply = [ALoginStatus](TDepartNode& n) {
        if (IsOnlineStatus(ALoginStatus)) {
            n.TryDownloadFaceFile(false);
            n.TryDownloadPhotoFile(false);
        }
        n.SetLoginStatus(ALoginStatus);
    };
    if (AUserId == 0) {
        for (TDepartNode* n : FColleagues) apply(*n);
        return;
    }
    ForEachColleague(AUserId, apply);
}

void TDepartmentManager::UpdateUserInfo(int32_t AUserId, const TBitDocument& ADoc)
{
    ForEachColleague(AUserId, [&](TDepartNode& n) {
        ReadProfileFields(n, *ADoc.Root(), TProfileRange::UserDoc);
        if (IPersonDownloads* d = PersonDownloads()) {
            if (n.FaceFileLoss()) d->DelayDown(AUserId, false, n.FaceFile(), QString());
            if (n.PhotoFileLoss()) d->DelayDown(AUserId, false, QString(), n.PhotoFile());
        }
    });
}

void TDepartmentManager::UpdateUserSignature(int32_t AUserId, const QString& ASignature)
{
    ForEachColleague(AUserId, [&](TDepartNode& n) { n.SetSignature(ASignature); });
}

void TDepartmentManager::UpdateUserFaceFile(int32_t AUserId, const QString& AFaceFile)
{
    ForEachColleague(AUserId, [&](TDepartNode& n) {
        n.SetFaceFile(AFaceFile);
        n.TryDownloadFaceFile(false);
        // A copy that is already here shows at once.
        if (!n.FaceFileLoss()) n.RebuildFaceImage();
    });
}

void TDepartmentManager::UpdateUserPhotoFile(int32_t AUserId, const QString& APhotoFile)
{
    ForEachColleague(AUserId, [&](TDepartNode& n) {
        n.SetPhotoFile(APhotoFile);
        n.TryDownloadPhotoFile(false);
    });
}

void TDepartmentManager::RebuildUserFaceImage(int32_t AUserId)
{
    ForEachColleague(AUserId, [](TDepartNode& n) { n.RebuildFaceImage(); });
}

} // namespace pelvox
