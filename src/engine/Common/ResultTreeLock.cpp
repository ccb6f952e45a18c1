#include "engine/Common/ResultTreeLock.h"

SimpleCs g_lockerAddData;
