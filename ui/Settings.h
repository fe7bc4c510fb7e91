// The stored settings of the control window: loaded once when the window is made, and
// written together whenever the user starts the server, clicks one of the boxes or exits.
#pragma once

#include "Profile.h"
#include "ServerCore.h"

// Where the settings stand in the profile, and what a missing key gives.
inline constexpr const char* kSettingsSection = "Defaults";
inline constexpr const char* kRootKey = "Root";
inline constexpr const char* kChannelKey = "Channel";
inline constexpr const char* kDefaultURLKey = "DefaultURL";
inline constexpr const char* kAutoStartKey = "AutoStart";
inline constexpr const char* kListFoldersKey = "ListFolders";
inline constexpr const char* kPreviewKey = "Preview";
inline constexpr const char* kConcurrentKey = "Concurrent";
inline constexpr const char* kUploadKey = "Upload";
inline constexpr const char* kPrivateKey = "Private";
inline constexpr const char* kPrivateKeyKey = "PrivateKey";
inline constexpr const char* kDefaultRoot = ".";
inline constexpr int kDefaultChannel = 80;
inline constexpr const char* kDefaultDefaultURL = "index.htm";
inline constexpr int kDefaultAutoStart = 0;
inline constexpr int kDefaultListFolders = 0;
inline constexpr int kDefaultPreview = 0;
inline constexpr int kDefaultConcurrent = 0;
inline constexpr int kDefaultUpload = 0;
inline constexpr int kDefaultPrivate = 0;

// The window constructor's loading: the empty values first, then Root, Channel (cut to its
// low 16 bits), DefaultURL, AutoStart (kept whole), ListFolders (on for 1 alone: listing
// shows every served name, so no other value turns it on), Preview and Concurrent (each on for
// 1 alone, as they change what is served and when), Upload (on for 1 alone: it lets visitors
// write), Private (on for 1 alone) and PrivateKey (kept only when it has the secret's form,
// lower-cased), from one reading of the file. Cannot fail.
void LoadServerSettings(const CProfile& profile, CServerCore& server, int& bAutoStart);

// SaveSettings: writes Root, Channel (sign-extended), DefaultURL, AutoStart, ListFolders,
// Preview, Concurrent, Upload, Private and PrivateKey, in that order, as the members stand, in
// one replacement of the file. ListFolders=0, Preview=0, Concurrent=0, Upload=0 and Private=0
// are written only where the file holds the key, so the file of a person who never turned any
// of them on keeps its five lines; PrivateKey once there is a key (the box was ticked) or where
// the file holds it. A file that holds the key is readable by its owner only. A failed write is
// not reported; the members keep their values.
void StoreServerSettings(CProfile& profile, const CServerCore& server, int bAutoStart);
