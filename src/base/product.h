#pragma once
// Who we are, as every window, command and error report shows it.
inline constexpr const char* kApplicationTitle = "Brennick Orvalis";
inline constexpr const char* kProgramVersion = "1.0.2";
inline constexpr const char* kSupportAddress = "support@orvalis.example";
