// What a container asks of the searcher that found it.
#pragma once

#include "engine/Common/Types.h"

class APFSContainer;
class APFSFileNode;

class APFSDelegate {
public:
    virtual ~APFSDelegate() = default;
    // False once the scan is to stop: walks, record loops and flushes end at once.
    virtual bool ContinueScan() = 0;
    // Hands a node to the tree builder (searcher type 37); the container has marked it published.
    // 1 when the builder took it (it owns the node from then on), 0 when it refused it.
    virtual int PublishNode(APFSFileNode* node) = 0;
    // Reads byteCount bytes from block firstBlock of the container (blocks of 4096 bytes from its start
    // sector; from sector 0 when container is null) into buffer. Non-zero on success.
    virtual int ReadBlocks(APFSContainer* container, u64 firstBlock, i32 byteCount, u8* buffer) = 0;
};
