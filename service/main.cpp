// pvx: makes one UPS on a serial port manageable over SNMP and a UDP relay.
#include "service/ProcessEntry.h"

int main(int argc, char** argv) { return pvx::PvxMain(argc, argv); }
