// Stand-in until the service loop arrives: nothing to serve yet.
#include "service/ServiceMain.h"

namespace pvx {

int ServiceMain(int /*argument*/) { return 0; }

} // namespace pvx
