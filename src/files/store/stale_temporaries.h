// Clean-up of temporary files that a killed save left behind.
#pragma once

#include <string>

namespace pendlo {

// Removes from dir the temporary files of atomic saves (".pendlo-<pid>-...
// .tmp") whose process no longer runs. A running second copy's temporary is
// left alone. Returns how many were removed; errors are ignored.
int RemoveStaleTemporaries(const std::string& dir);

}  // namespace pendlo
