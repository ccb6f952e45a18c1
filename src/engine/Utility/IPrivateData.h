// Searcher-private data attached to a found partition record.
#pragma once

class IPrivateData {
public:
    virtual ~IPrivateData() = default;
    virtual void Release() = 0;
};
