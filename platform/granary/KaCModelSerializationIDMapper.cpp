#include "platform/granary/KaCModelSerializationIDMapper.h"

#include <cstdint>
#include <string>
#include <utility>

#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbFactory.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryCounter.h"
#include "platform/harbor/CbStringConversion.h"

void KaCModelSerializationIDMapper::WriteModelByReference(CbStreamWriteBinary& stream,
                                                          CbSmartPointer<const KaCModelCCT> model) {
    ReferenceModel(model).Serialize(stream);
}

const CyUniqueID& KaCModelSerializationIDMapper::ReferenceModel(
    const CbSmartPointer<const KaCModelCCT>& model) {
    if (!model) {
        return CyUniqueID::GetInvalidID();
    }
    GetInstance().rememberReferenced(model);
    return model->GetId();
}

void KaCModelSerializationIDMapper::rememberReferenced(
    const CbSmartPointer<const KaCModelCCT>& model) {
    CbCriticalSectionAuto lock(m_cs);
    const CyUniqueID& id = model->GetId();
    if (id == m_lastReferencedId) {
        return;
    }
    if (m_referencedIds.insert(id).second) {
        m_referenced.emplace_back(model);
    }
    m_lastReferencedId = id;
}

CbSmartPointer<const KaCModelCCT> KaCModelSerializationIDMapper::ReadModelByReference(
    CbStreamReadBinary& stream) {
    CyUniqueID id = CyUniqueID::GetInvalidID();
    id.Serialize(stream);
    return ResolveModelReference(id);
}

CbSmartPointer<const KaCModelCCT> KaCModelSerializationIDMapper::ResolveModelReference(
    const CyUniqueID& id) {
    if (!id.IsValid()) {
        return nullptr;
    }
    CbSmartPointer<const KaCModelCCT> model;
    {
        CbCriticalSectionAuto lock(m_cs);
        if (m_lastReadModel && id == m_lastReadId) {
            model = m_lastReadModel;
        } else {
            auto it = m_models.find(id);
            if (it != m_models.end()) {
                model = it->second;
                m_lastReadId = id;
                m_lastReadModel = model;
            }
        }
    }
    if (!model) {
        CB_THROW(CbException, "KaCModelSerializationIDMapper: a reference to the model " +
                                  CbToUtf8(id.ToString()) + ", which no model record holds");
    }
    return model;
}

void KaCModelSerializationIDMapper::WriteModel(CbStreamWriteBinary& stream,
                                               CbSmartPointer<const KaCModelCCT> model) {
    if (!model) {
        CB_THROW(CbException, "KaCModelSerializationIDMapper::WriteModel: no model");
    }
    CbCriticalSectionAuto lock(m_cs);
    CbStreamWriteBinaryCounter counter;
    model->SerializeMetaData(counter);
    model->SerializeGeometry(counter);
    stream.WriteWideString(model->GetClassNameW());
    stream.WriteUInt64(counter.GetCount());
    const uint64_t start = stream.GetCount();
    model->SerializeMetaData(stream);
    model->SerializeGeometry(stream);
    if (stream.GetCount() - start != counter.GetCount()) {
        CB_THROW(CbException, "KaCModelSerializationIDMapper::WriteModel: the model wrote " +
                                  std::to_string(stream.GetCount() - start) +
                                  " bytes after counting " + std::to_string(counter.GetCount()));
    }
}

CbSmartPointer<KaCModelCCT> KaCModelSerializationIDMapper::ReadModel(CbStreamReadBinary& stream) {
    CbCriticalSectionAuto lock(m_cs);
    const std::wstring className = stream.ReadWideString();
    const uint64_t byteCount = stream.ReadUInt64();
    stream.RequireRemaining(byteCount, 1, "model record byte");
    CbSmartPointer<KaCModelCCT> model = CbCreateByName<KaCModelCCT>(className);
    if (!model) {
        stream.Skip(byteCount);
        return nullptr;
    }
    // The payload is read from its own bounded stream, so a model that reads too much or
    // too little cannot run into the records after it.
    // A stream over memory shows the payload where it lies; others copy it.
    std::vector<uint8_t> copy;
    const uint8_t* bytes = stream.ReadView(byteCount);
    if (bytes == nullptr) {
        copy.resize(static_cast<size_t>(byteCount));
        stream.ReadBuffer(copy.data(), byteCount);
        bytes = copy.data();
    }
    CbStreamReadBinaryBuffer payload(bytes, byteCount);
    model->SerializeMetaData(payload);
    model->SerializeGeometry(payload);
    if (payload.GetRemaining() != 0) {
        CB_THROW(CbException, "KaCModelSerializationIDMapper::ReadModel: corrupt model record: " +
                                  std::to_string(payload.GetRemaining()) + " bytes left unread");
    }
    if (!m_models.emplace(model->GetId(), model).second) {
        CB_THROW(CbException, "KaCModelSerializationIDMapper::ReadModel: the model ID " +
                                  CbToUtf8(model->GetId().ToString()) + " appears twice");
    }
    return model;
}

void KaCModelSerializationIDMapper::SetModel(const CyUniqueID& id,
                                             CbSmartPointer<const KaCModelCCT> model) {
    CbCriticalSectionAuto lock(m_cs);
    m_lastReadModel = nullptr;
    if (model) {
        m_models[id] = std::move(model);
    } else {
        m_models.erase(id);
    }
}

CbSmartPointer<const KaCModelCCT> KaCModelSerializationIDMapper::GetModel(const CyUniqueID& id) {
    CbCriticalSectionAuto lock(m_cs);
    auto it = m_models.find(id);
    return it == m_models.end() ? nullptr : it->second;
}

std::vector<CbSmartPointer<const KaCModelCCT>>
KaCModelSerializationIDMapper::GetReferencedModels() {
    CbCriticalSectionAuto lock(m_cs);
    std::vector<CbSmartPointer<const KaCModelCCT>> models;
    models.reserve(m_referenced.size());
    for (const CbWeakPointer<const KaCModelCCT>& reference : m_referenced) {
        if (CbSmartPointer<const KaCModelCCT> model = reference.Lock()) {
            models.push_back(std::move(model));
        }
    }
    return models;
}

void KaCModelSerializationIDMapper::ClearMapping() {
    // Release the models after leaving the lock: their destruction needs none of it.
    std::unordered_map<CyUniqueID, CbSmartPointer<const KaCModelCCT>> models;
    CbSmartPointer<const KaCModelCCT> lastRead;
    {
        CbCriticalSectionAuto lock(m_cs);
        models.swap(m_models);
        m_referenced.clear();
        m_referencedIds.clear();
        m_lastReferencedId = CyUniqueID::GetInvalidID();
        m_lastReadId = CyUniqueID::GetInvalidID();
        lastRead = std::move(m_lastReadModel);
    }
}
