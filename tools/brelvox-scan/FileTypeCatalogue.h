// The file-type catalogue (extension lists of the six categories) handed to the engine before its type
// filter is first created, as the operations layer does.
#pragma once

#include <string>

namespace scan {

// Reads the shipped "FileType" list (with the user's overlay) and gives it to CFileTypeManager.
// False with a reason when the catalogue cannot be read; the engine then classes every file as other.
bool LoadFileTypeCatalogue(std::string& reason);

}  // namespace scan
