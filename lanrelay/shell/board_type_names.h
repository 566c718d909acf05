// Readable names for the one-byte board type codes that boards report in
// their identification reply; shown in the status list's "Type" column and in
// the "{type}" placeholder of event texts.
#pragma once

#include <string>

namespace shell {

// The name for a type code from 0 to 255: a model name for the six known
// codes, "-(XXh)-" with the code in upper-case hexadecimal for every other.
// Callers check the range first (a board not yet identified has code -1);
// a code outside 0..255 gives "-".
const std::string& boardTypeName(int typeCode);

}  // namespace shell
