// An observer of one engine event centre (CMyNotifyCenter).
#pragma once

class INotifyObserver {
public:
    virtual ~INotifyObserver() = default;
    // type: the engine event type; data: the payload copy, valid only during the call (null when the
    // event had none).
    virtual void Notify(int type, void* data) = 0;
};
