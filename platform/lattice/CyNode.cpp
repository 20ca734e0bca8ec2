#include "platform/lattice/CyNode.h"

#include "platform/harbor/CbStreamWriteASCII.h"
#include "platform/lattice/CyDataManager.h"

CB_DEFINE_RTTI(CyNode, nullptr, &CyNode::CreateByFactory, nullptr)

CyNode::CyNode(const CyNode& other)
    : CbReferenceCounted(other)
    , CbIClassName<0, std::wstring>(other)
    , CbINonCopyable(other)
    , CbIDumpable<1>(other)
    , IObject(other)
    , m_modified(other.m_modified) {}

CyNode::~CyNode() = default;

CbSmartPointer<CyNode> CyNode::GetParent() {
    CyDataManager* manager = GetDataManager();
    return manager != nullptr ? manager->GetParentOf(*this) : nullptr;
}

CbSmartPointer<const CyNode> CyNode::GetParent() const {
    CyDataManager* manager = GetDataManager();
    return manager != nullptr ? manager->GetParentOf(*this) : nullptr;
}

std::vector<CbSmartPointer<CyNode>> CyNode::GetChildren() const {
    CyDataManager* manager = GetDataManager();
    return manager != nullptr ? manager->GetChildrenOf(*this)
                              : std::vector<CbSmartPointer<CyNode>>();
}

bool CyNode::CreateData(const std::wstring& /*name*/) {
    return false;
}

void CyNode::setModified(bool modified, bool recursive) {
    m_modified = modified;
    if (recursive) {
        for (const CbSmartPointer<CyNode>& child : GetChildren()) {
            child->setModified(modified, true);
        }
    }
}

void CyNode::dump(CbStreamWriteASCII& stream) const {
    stream << GetClassNameW() << " " << GetName() << "\n";
}
