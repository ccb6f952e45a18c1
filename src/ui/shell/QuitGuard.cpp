#include "ui/shell/QuitGuard.h"

namespace shell {

namespace {

SavePromptHook& Hook() {
    static SavePromptHook hook;
    return hook;
}

}  // namespace

void SetSavePromptHook(SavePromptHook hook) {
    Hook() = std::move(hook);
}

SavePromptAnswer RunSavePrompt() {
    // A copy: the prompt may replace the hook while it runs.
    const SavePromptHook hook = Hook();
    return hook ? hook() : SavePromptAnswer::NothingToSave;
}

}  // namespace shell
