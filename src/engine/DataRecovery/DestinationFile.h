// Opening by path the file that a copy is written to, for callers that name a destination by its
// path. Recovered bytes go only into a plain file (or a character device named on purpose, such as
// /dev/null): a link planted at the path is never followed, a block device is never opened for the
// copy, and a file that has other names (hard links) is not emptied, since that would change them too.
// Callers that make destinations themselves create them with O_EXCL | O_NOFOLLOW under a folder
// descriptor and hand the descriptor over instead.
#pragma once

namespace destination {

// Opens path for writing: created when missing, emptied when it is a plain file. -1 with errno set
// when it cannot be opened or is a link, a folder, a block device, a pipe or a hard-linked file.
int OpenForCopy(const char* path);

}  // namespace destination
