#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "platform/harbor/CbIClassName.h"
#include "platform/harbor/CbIDumpable.h"
#include "platform/harbor/CbINonCopyable.h"
#include "platform/harbor/CbReferenceCounted.h"
#include "platform/harbor/CbSmartPointer.h"
#include "platform/harbor/IObject.h"

class CyDataManager;

// A node of the data manager's own tree. Every object the application shares between its
// threads is a CyNode, inserted below another one in a CyDataManager, which hands out read
// and write access to nodes and their subtrees.
//
// The links (data manager, parent, children) are written only by the CyDataManager that
// holds the node, under its own lock, and read under that lock; any thread may read them
// at any time. A node that is in no data manager has no parent and no children.
class CyNode : public CbReferenceCounted,
               public CbIClassName<0, std::wstring>,
               public CbINonCopyable,
               public CbIDumpable<1>,
               public IObject {
    CB_DECLARE_RTTI()

public:
    CyNode() = default;
    ~CyNode() override;

    // The data manager that holds this node, or null.
    CyDataManager* GetDataManager() const { return m_dataManager.load(std::memory_order_acquire); }
    // The node's parent in the data manager's tree; null while it is not inserted.
    CbSmartPointer<CyNode> GetParent();
    CbSmartPointer<const CyNode> GetParent() const;
    // The node's children in the data manager's tree (a snapshot).
    std::vector<CbSmartPointer<CyNode>> GetChildren() const;

    // What the data manager asks of its nodes. The defaults describe a plain node: not
    // serialisable, no data of its own, no modification tracking.
    virtual bool IsSerializable() const { return false; }
    // Creates the data the node stands for, named `name`; false when it has none.
    virtual bool CreateData(const std::wstring& name);
    virtual void CreateChildNodes() {}
    virtual const CbRTTI* GetRTTIData() const { return nullptr; }
    virtual bool isModified() const { return m_modified; }
    virtual void setModified(bool modified, bool recursive);
    virtual bool isTrackModifications() const { return false; }

    // One line: the class name and the name slot.
    void dump(CbStreamWriteASCII& stream) const override;

protected:
    // A copy has no links: it is not in any data manager.
    CyNode(const CyNode& other);

private:
    friend class CyDataManager;

    CB_DECLARE_CREATE_FACTORY(CyNode)

    std::atomic<CyDataManager*> m_dataManager{nullptr};
    // Guarded by the lock of the data manager that holds the node.
    CyNode* m_parent = nullptr;                      // the parent holds this node strongly
    std::vector<CbSmartPointer<CyNode>> m_children;  // strong
    bool m_modified = false;
};
