// The save prompt that quitting runs when no scan or recovery is under way: the result window fills
// the hook while it shows a result that is not saved (it asks whether to save first); without a hook
// there is nothing to save.
#pragma once

#include <functional>

namespace shell {

enum class SavePromptAnswer {
    NothingToSave,  // no unsaved result
    Quit,           // saved, or the user chose not to save
    Cancel,         // the user cancelled: the program keeps running
};
using SavePromptHook = std::function<SavePromptAnswer()>;

// Sets the process-wide hook (empty: none).
void SetSavePromptHook(SavePromptHook hook);
// Runs the hook; NothingToSave without one.
SavePromptAnswer RunSavePrompt();

}  // namespace shell
