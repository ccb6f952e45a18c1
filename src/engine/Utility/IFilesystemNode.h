// A node that may stand as the root folder of a found file system (the operations layer keeps these).
#pragma once

#include "engine/Utility/IFileNode.h"

class IFilesystemNode : public IFileNode {};
