// Names and meanings of every node pvx serves, for the MIB reference.
#pragma once

#include "tools/mibdoc/MibReference.h"

namespace pvx::mibdoc {

std::span<const SObjectText> ObjectTexts();

} // namespace pvx::mibdoc
