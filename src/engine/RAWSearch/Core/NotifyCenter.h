// The cancel and progress sink of the signature search, shared by the controller and its analysers.
#pragma once

class IProgress;

class CNotifyCenter {
public:
    static CNotifyCenter& Instance();

    // 1 when no sink is set, else the sink's answer (which waits while the user pauses).
    int isContinue();
    void SetProgress(IProgress* progress) { m_progress = progress; }
    IProgress* GetProgress() const { return m_progress; }
    void Reset() { m_progress = nullptr; }

private:
    CNotifyCenter() = default;
    IProgress* m_progress = nullptr;
};
