#pragma once
// The user's well-known folders, where a finished catalogue can be placed.
// Nothing here creates a folder; callers decide whether to.
#include <string>

// The user's home folder ($HOME, else the password database); empty when unknown.
std::string HomeFolder();
// Desktop and documents folders as the XDG user-dirs configuration names them
// ($XDG_CONFIG_HOME/user-dirs.dirs, the file xdg-user-dir reads), falling back
// to ~/Desktop and ~/Documents. Empty when no home folder is known.
std::string DesktopFolder();
std::string DocumentsFolder();
// The user's own data folder of the program: $XDG_DATA_HOME/orvalis.
std::string UserDataFolder();
// The stand-in for the Quick Launch toolbar: $XDG_DATA_HOME/orvalis/quicklaunch
// (XDG_DATA_HOME defaults to ~/.local/share).
std::string QuickLaunchFolder();

// The folder for a "Session" / "PlaceTo" value: 1 desktop, 2 documents,
// 3 Quick Launch; empty for any other value (the custom file name is used).
std::string PlaceFolder(int placeTo);
// The file name a placed catalogue gets in those folders.
inline constexpr const char* kPlacedDatabaseName = "Orvalis.chm";
