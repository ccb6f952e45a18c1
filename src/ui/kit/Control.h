// What the kit's controls share with AppKit's NSControl: an action sent to the target (a callable
// here), a tag, and membership of the "control" kind that a title bar switches on and off.
#pragma once

#include <functional>

namespace kit {

class Control {
public:
    using Action = std::function<void()>;
    virtual ~Control() = default;

    void setAction(Action action) { m_action = std::move(action); }
    bool hasAction() const { return static_cast<bool>(m_action); }
    // Runs the action, if any (a copy, so the action may replace itself).
    void sendAction() const {
        if (Action action = m_action) action();
    }

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

private:
    Action m_action;
    int m_tag = 0;
};

}  // namespace kit
