#pragma once
#include "orvalis_version.h"

// Who we are, as every window, command and error report shows it.
inline constexpr const char* kApplicationTitle = "Brennick Orvalis";
inline constexpr const char* kProgramVersion = ORVALIS_VERSION;
inline constexpr const char* kSupportAddress = "support@orvalis.example";
