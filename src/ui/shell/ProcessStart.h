// The start of the process: its arguments decide whether it runs at all. The launcher beside the
// program starts it with the interface language followed by "*loaderflag*"; started with no language
// (no first argument, an empty one or one that is not plain ASCII) the program starts the launcher and
// ends. When it runs it stores the language, holds the desktop awake for the whole run and records a
// saved scan result named as the second argument.
#pragma once

#include <optional>
#include <string>

namespace shell {

inline constexpr const char* kLoaderFlag = "*loaderflag*";
// A second argument names a saved scan result only when it holds this (case-sensitive).
inline constexpr const char* kSavedResultMarker = ".Brelvox";
// The launcher, found in the program's own folder.
inline constexpr const char* kLoaderProgramName = "brelvox-launcher";
inline constexpr const char* kKeepAwakeReason = "Brelvox is running";

// The language of a first argument: the argument without a trailing "*loaderflag*"; nothing for an
// empty argument or one with a byte outside ASCII (the loader is wanted then).
std::optional<std::string> LanguageArgument(const std::string& argument);
// Whether a second argument names a saved scan result.
bool IsSavedResultPath(const std::string& argument);

// Stores [language] as "AppleLanguages" (kept for later starts) and makes it the language of the
// interface texts.
void setCurLanguage(const std::string& language);
// The launcher in programFolder.
std::string LoaderPath(const std::string& programFolder);
// Starts the launcher beside the running program through the kit's process launch; true when it
// started.
bool ZZManRunLoader();
// Takes and gives back the keep-awake hold (the desktop's inhibitor; not taken without one). True
// when it is held.
bool PreventSleep();
void ReleasePreventObj();

// The start before the application runs: the language or the loader, the keep-awake hold, "rsfPath"
// (emptied, then set from a second argument naming a saved scan result). Answers 0 when the loader
// was started and the process is to end; nothing when the program goes on (also when the loader
// could not be started: the stored language stays).
std::optional<int> StartProcess(int argc, char** argv);

}  // namespace shell
