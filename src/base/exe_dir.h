#pragma once
#include <string>

// Folder of the running executable (from /proc/self/exe), without trailing "/".
const std::string& ExeDir();
// Full path of the running executable.
const std::string& ExePath();
// Tests point the program at a folder of their own.
void SetExeDirForTesting(const std::string& folder);
