// The driver's device listing, built into this test program so it can run against a fake machine.
#include "../../../tools/brelvox-scan/ListDevices.cpp"
