// The service: set-up from the configuration, then the loop that polls the
// UPS and serves the network.
#pragma once

namespace pvx {

int ServiceMain(int argument);

} // namespace pvx
