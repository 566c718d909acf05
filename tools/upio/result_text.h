// What each of the USB board library's result codes means, for messages.
#pragma once

#include <cstdint>

namespace upio {

const char* resultMeaning(uint32_t result);

}  // namespace upio
