// The kinds of private data a device carries. Each holder owns one record and frees it when destroyed;
// users find the kind with dynamic_cast.
#pragma once

#include "engine/DeviceRecords/DeviceInfoStructs.h"
#include "engine/DeviceRecords/ImageInfoStructs.h"
#include "engine/DeviceRecords/IStorageDeviceData.h"

class IDiskDeviceData : public IStorageDeviceData {
public:
    virtual CCollectDiskDeviceInfoStruct* GetDiskInfo() = 0;
    // Takes ownership; the previous record is freed.
    virtual void SetDiskInfo(CCollectDiskDeviceInfoStruct* record) = 0;
};

class IPartitionDeviceData : public IStorageDeviceData {
public:
    virtual CCollectedPartitionDeviceInfoStruct* GetPartitionInfo() = 0;
    virtual void SetPartitionInfo(CCollectedPartitionDeviceInfoStruct* record) = 0;
};

class IVolumeDeviceData : public IStorageDeviceData {
public:
    virtual CCollectedVolumeDeviceInfoStruct* GetVolumeInfo() = 0;
    virtual void SetVolumeInfo(CCollectedVolumeDeviceInfoStruct* record) = 0;
};

class IEDIDeviceData : public IStorageDeviceData {
public:
    virtual CEDIDeviceInfoStruct* GetEDIInfo() = 0;
    virtual void SetEDIInfo(CEDIDeviceInfoStruct* record) = 0;
};

class IDmgDeviceData : public IStorageDeviceData {
public:
    virtual CDMGDeviceInfoStruct* GetDMGInfo() = 0;
    virtual void SetDMGInfo(CDMGDeviceInfoStruct* record) = 0;
};

// Factories: each takes ownership of the record (which may be null) and returns a new holder, or null
// when memory is exhausted.
IDiskDeviceData* CreateDiskDeviceData(CCollectDiskDeviceInfoStruct* record);
IPartitionDeviceData* CreatePartitionDeviceData(CCollectedPartitionDeviceInfoStruct* record);
IVolumeDeviceData* CreateVolumeDeviceData(CCollectedVolumeDeviceInfoStruct* record);
IEDIDeviceData* CreateEDIDeviceData(CEDIDeviceInfoStruct* record);
IDmgDeviceData* CreateDMGDeviceData(CDMGDeviceInfoStruct* record);
