// The base of every searcher: the builder it hands its nodes to, and the partitions it found.
#pragma once

class IDirecotryTreeBuilder;
class CSearchedPartitionInfo;

class IFileSystemSearchController {
public:
    virtual void SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) = 0;
    // Null array: the count. Room for all: copies (the caller owns them) and the count. Less room: 0,
    // nothing written (CopySearchedPartitionInfo implements this).
    virtual int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int capacity) = 0;
    virtual ~IFileSystemSearchController() = default;
};
