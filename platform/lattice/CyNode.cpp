#include "platform/lattice/CyNode.h"

#include "platform/harbor/CbStreamWriteASCII.h"

CB_DEFINE_RTTI(CyNode, nullptr, &CyNode::CreateByFactory, nullptr)

CyNode::CyNode(const CyNode& other)
    : CbReferenceCounted(other)
    , CbIClassName<0, std::wstring>(other)
    , CbINonCopyable(other)
    , CbIDumpable<1>(other)
    , IObject(other)
    , m_modified(other.m_modified) {}

CyNode::~CyNode() = default;

bool CyNode::CreateData(const std::wstring& /*name*/) { return false; }

void CyNode::setModified(bool modified, bool recursive) {
    m_modified = modified;
    if (recursive) {
        for (const CbSmartPointer<CyNode>& child : m_children) {
            child->setModified(modified, true);
        }
    }
}

void CyNode::dump(CbStreamWriteASCII& stream) const {
    stream << GetClassNameW() << " " << GetName() << "\n";
}
