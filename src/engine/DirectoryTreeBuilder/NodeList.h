// The nodes recorded under one ID: almost always one, so the first is kept in place and a heap array is
// made only when a second node of the same ID comes. Used like a vector of node pointers.
#pragma once

#include "engine/Utility/FirstInPlaceVector.h"

class CFileNode;

class CNodeList : public FirstInPlaceVector<CFileNode*> {};
