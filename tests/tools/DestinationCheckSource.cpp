// The driver's destination check, built into this test program for its table test.
#include "../../tools/brelvox-scan/DestinationCheck.cpp"
