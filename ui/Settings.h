// The four stored settings of the control window: loaded once when the window is made, and
// written together whenever the user starts the server, clicks the autostart box or exits.
#pragma once

#include "Profile.h"
#include "ServerCore.h"

// Where the settings stand in the profile, and what a missing key gives.
inline constexpr const char* kSettingsSection = "Defaults";
inline constexpr const char* kRootKey = "Root";
inline constexpr const char* kChannelKey = "Channel";
inline constexpr const char* kDefaultURLKey = "DefaultURL";
inline constexpr const char* kAutoStartKey = "AutoStart";
inline constexpr const char* kDefaultRoot = ".";
inline constexpr int kDefaultChannel = 80;
inline constexpr const char* kDefaultDefaultURL = "index.htm";
inline constexpr int kDefaultAutoStart = 0;

// The window constructor's loading: the empty values first, then Root, Channel (cut to its
// low 16 bits), DefaultURL and AutoStart (kept whole), from one reading of the file.
// Cannot fail.
void LoadServerSettings(const CProfile& profile, CServerCore& server, int& bAutoStart);

// SaveSettings: writes Root, Channel (sign-extended), DefaultURL and AutoStart, in that order,
// as the members stand, in one replacement of the file. A failed write is not reported; the
// members keep their values.
void StoreServerSettings(CProfile& profile, const CServerCore& server, int bAutoStart);
