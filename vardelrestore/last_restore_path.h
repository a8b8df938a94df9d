#pragma once
// "LastRestorePath": the folder the last extraction went to, offered as the
// next one. A text value in the "VARDELRESTORE" subkey of the product key
// (the key of the window's placement; key names ignore case). Both calls
// swallow errors: a remembered folder is a convenience.
#include <string>
#include <string_view>

namespace vardel {

std::string last_restore_path();
// Written only when the subkey exists already; it is never created here.
void remember_restore_path(std::string_view folder);

}  // namespace vardel
