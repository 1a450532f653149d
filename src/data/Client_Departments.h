#pragma once
#include "core/Client_Session.h"
#include "data/Client_Common.h"
#include <QHash>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace pelvox {

class TDepartNode;
using TDepartNodePtr = std::shared_ptr<TDepartNode>;

// An ordered list of node references; shared ownership, so a node taken out
// of the tree stays valid for whoever still holds it.
class TDepartNodeList {
public:
    int Add(TDepartNodePtr ANode)
    {
        FItems.push_back(std::move(ANode));
        return int(FItems.size()) - 1;
    }
    void Clear() { FItems.clear(); }
    int Count() const { return int(FItems.size()); }
    TDepartNode* Items(int AIndex) const { return FItems.at(size_t(AIndex)).get(); }
    const TDepartNodePtr& Item(int AIndex) const { return FItems.at(size_t(AIndex)); }
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<TDepartNodePtr> FItems;
};

// One node of the department tree: a department (NodeType 0) or a colleague (1).
class TDepartNode : public TOtherUser {
public:
    TDepartNode() { SetOtherUserType(outDepartUser); }

    int16_t NodeType() const { return FNodeType; }
    void SetNodeType(int16_t AValue) { FNodeType = AValue; }
    int64_t NodeId() const { return FNodeId; }
    void SetNodeId(int64_t AValue) { FNodeId = AValue; }
    const QString& NodeName() const { return FNodeName; }
    void SetNodeName(const QString& AValue) { FNodeName = AValue; }
    int64_t ParentNodeId() const { return FParentNodeId; }
    void SetParentNodeId(int64_t AValue) { FParentNodeId = AValue; }
    void* Data() const { return FData; }
    void SetData(void* AValue) { FData = AValue; }
    const TDepartNodeList& ChildNodes() const { return FChildNodes; }
    int32_t OnlineCount() const { return FOnlineCount; }
    int32_t ChildUserCount() const { return FChildUserCount; }
    // The department this node stands in while it is part of the live tree.
    TDepartNode* Parent() const { return FParent; }

    bool IsDepartment() const { return FNodeType == 0; }
    bool IsColleague() const { return FNodeType == 1; }

    // Recounts this node's two counters over its subtree.
    void UpdateOnlineCount();
    QString GetShowName(bool AShowUserId) const override { return TOtherUser::GetShowName(AShowUserId); }

protected:
    // Keeps the online counts of every department above exact.
    void LoginStatusChanged(TLoginStatus AOld, TLoginStatus ANew) override;

private:
    friend class TDepartmentManager;
    int16_t FNodeType = 0;
    int64_t FNodeId = 0;
    QString FNodeName;
    int64_t FParentNodeId = 0;
    void* FData = nullptr;
    TDepartNodeList FChildNodes;
    int32_t FOnlineCount = 0;
    int32_t FChildUserCount = 0;
    TDepartNode* FParent = nullptr;
    uint32_t FOrder = 0; // colleague's position in a depth-first walk
};

// The organisation's department tree with the colleagues in it. Lookups by
// id and user name are indexed; presence changes move the counts along the
// ancestors only.
class TDepartmentManager : public IDataManager {
public:
    TDepartmentManager();
    ~TDepartmentManager() override;

    const TDepartNodeList& ChildNodes() const { return FChildNodes; }
    void Lock() { FLock.lock(); }
    void UnLock() { FLock.unlock(); }
    std::recursive_mutex& Mutex() { return FLock; }

    // Builds the tree of a login answer off the UI thread;
    // InitWhenLoginSuccess with the same answer then only swaps it in.
    void PrepareLoginData(const TBitDocument& ADoc) override;
    void InitWhenLoginSuccess(const TBitDocument& ADoc) override;
    void UpdateDataWhenLogout() override;

    TDepartNode* FindDepartNode(int64_t ANodeId) const;
    TDepartNode* FindDepartUser(const QString& AUserIdOrName) const;
    TDepartNodePtr FindDepartUserShared(const QString& AUserIdOrName) const;
    // Colleague nodes of one user, in tree order.
    const std::vector<TDepartNode*>& DepartUsersOf(int32_t AUserId) const;
    void GetDepartUserList(int64_t AParentNodeId, std::vector<TDepartNode*>& AList) const;
    QString GetLongDepartName(const QString& AUserIdOrName) const;

    // Counts are kept exact as statuses change; this recounts only after a rebuild.
    void UpdateOnlineCount();
    // Recounts every department from scratch.
    void RecountAll();
    void UpdateUserLoginStatus(int32_t AUserId, TLoginStatus ALoginStatus);
    void UpdateUserInfo(int32_t AUserId, const TBitDocument& ADoc);
    void UpdateUserSignature(int32_t AUserId, const QString& ASignature);
    void UpdateUserFaceFile(int32_t AUserId, const QString& AFaceFile);
    void UpdateUserPhotoFile(int32_t AUserId, const QString& APhotoFile);
    void RebuildUserFaceImage(int32_t AUserId);

    int ColleagueCount() const { return int(FColleagues.size()); }

private:
    // Which answer a prepared tree was built from.
    struct TAnswerKey {
        const TBitDocument* Doc = nullptr;
        const void* Users = nullptr;
        int Count = -1;
        bool operator==(const TAnswerKey&) const = default;
    };
    static TAnswerKey KeyOf(const TBitDocument& ADoc);
    void BuildFromAnswer(const TBitDocument& ADoc);
    void TakeTree(TDepartmentManager& AOther);
    void Detach();
    void BuildIndexes();
    template <class Fn> void ForEachColleague(int32_t AUserId, Fn&& fn);

    TDepartNodeList FChildNodes;
    mutable std::recursive_mutex FLock;
    bool FCountsDirty = false;
    std::vector<TDepartNode*> FColleagues; // every colleague node, tree order
    std::unordered_map<int32_t, std::vector<TDepartNode*>> FById;
    QHash<QString, TDepartNode*> FByName;      // first in tree order
    std::unordered_map<int64_t, TDepartNode*> FDepartById; // first in tree order
    std::mutex FPreparedLock;
    std::unique_ptr<TDepartmentManager> FPrepared;
    TAnswerKey FPreparedKey;
};

} // namespace pelvox
