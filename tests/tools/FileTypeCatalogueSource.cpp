// The driver's file-type catalogue loader, built into this test program with the session that calls it.
#include "../../tools/brelvox-scan/FileTypeCatalogue.cpp"
