// The driver's session, built into this test program so it can run against fake searchers.
#include "../../tools/brelvox-scan/ScanSession.cpp"
