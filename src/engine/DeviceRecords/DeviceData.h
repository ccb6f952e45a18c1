// The holders of the device records: one owned record each.
#pragma once

#include <memory>

#include "engine/DeviceRecords/IDeviceData.h"

// Holds one record of type Record behind the interface Interface.
template <class Interface, class Record>
class CRecordHolder : public Interface {
public:
    explicit CRecordHolder(Record* record) : m_record(record) {}

protected:
    Record* Get() { return m_record.get(); }
    void Set(Record* record) {
        if (record != m_record.get()) m_record.reset(record);
    }

private:
    std::unique_ptr<Record> m_record;
};

class CDiskDeviceData : public CRecordHolder<IDiskDeviceData, CCollectDiskDeviceInfoStruct> {
public:
    using CRecordHolder::CRecordHolder;
    CCollectDiskDeviceInfoStruct* GetDiskInfo() override { return Get(); }
    void SetDiskInfo(CCollectDiskDeviceInfoStruct* record) override { Set(record); }
};

class CPartitionDeviceData : public CRecordHolder<IPartitionDeviceData, CCollectedPartitionDeviceInfoStruct> {
public:
    using CRecordHolder::CRecordHolder;
    CCollectedPartitionDeviceInfoStruct* GetPartitionInfo() override { return Get(); }
    void SetPartitionInfo(CCollectedPartitionDeviceInfoStruct* record) override { Set(record); }
};

class CVolumeDeviceData : public CRecordHolder<IVolumeDeviceData, CCollectedVolumeDeviceInfoStruct> {
public:
    using CRecordHolder::CRecordHolder;
    CCollectedVolumeDeviceInfoStruct* GetVolumeInfo() override { return Get(); }
    void SetVolumeInfo(CCollectedVolumeDeviceInfoStruct* record) override { Set(record); }
};

class CEdiDeviceData : public CRecordHolder<IEDIDeviceData, CEDIDeviceInfoStruct> {
public:
    using CRecordHolder::CRecordHolder;
    CEDIDeviceInfoStruct* GetEDIInfo() override { return Get(); }
    void SetEDIInfo(CEDIDeviceInfoStruct* record) override { Set(record); }
};

class CDmgDeviceData : public CRecordHolder<IDmgDeviceData, CDMGDeviceInfoStruct> {
public:
    using CRecordHolder::CRecordHolder;
    CDMGDeviceInfoStruct* GetDMGInfo() override { return Get(); }
    void SetDMGInfo(CDMGDeviceInfoStruct* record) override { Set(record); }
};
