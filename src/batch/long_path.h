// Paths as the system's wide-character calls take them at any length, up to
// its 32,767 characters rather than MAX_PATH.
#pragma once

#include <string>
#include <string_view>

// The long form of a full path (one GetFullPathNameW has made): "\\?\" before
// a drive path, "\\?\UNC\" in place of a share path's leading "\\". That form
// is taken as it stands, so the path must already be full and clean. A path
// already in the system's namespaces ("\\?\...", or "\\.\..." such as a
// device the name stands for) stays as it is.
std::wstring LongPathForm(std::wstring_view fullPath);
