// What the status renderers share besides the names of the model's codes:
// alarm words and exact decimals.
#pragma once

#include "ups/StatusNames.h"

#include <cstdint>
#include <string>

namespace pvx::status {

std::string AlarmWords(const COid& descriptor);
// `value` / `divisor` (10 or 100) as an exact decimal without trailing zeros.
std::string Scaled(std::int64_t value, int divisor);
std::string Number(std::int64_t value);

} // namespace pvx::status
