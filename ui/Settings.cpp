#include "Settings.h"

#include <cstdint>

#include "AsciiCase.h"
#include "PrivateLink.h"

namespace {
// A box that is off by default: its key is written once it is on, and then wherever the file
// holds it, so a file that never had it keeps its lines.
SProfileValue OptionalFlag(const char* pszKey, bool bOn) {
    return {.strKey = pszKey,
            .strValue = CProfile::FormatProfileInt(bOn ? 1 : 0),
            .bOnlyWhereStored = !bOn};
}
}  // namespace

void LoadServerSettings(const CProfile& profile, CServerCore& server, int& bAutoStart) {
    server.m_nChannel = 0;
    server.m_strRoot.clear();
    server.m_strDefaultURL.clear();
    bAutoStart = 0;
    server.m_bListFolders = false;
    server.m_bPreview = false;
    server.m_bConcurrent = false;
    server.m_bUpload = false;
    server.m_bPrivate = false;
    server.m_strPrivateKey.clear();

    // One reading of the file for all of them, so they come from the same save.
    CProfileReading stored = profile.Read();
    server.m_strRoot = stored.GetProfileString(kSettingsSection, kRootKey, kDefaultRoot);
    // The member holds the port's low 16 bits: a stored 70000 becomes 4464.
    server.m_nChannel =
        static_cast<int16_t>(stored.GetProfileInt(kSettingsSection, kChannelKey, kDefaultChannel));
    server.m_strDefaultURL =
        stored.GetProfileString(kSettingsSection, kDefaultURLKey, kDefaultDefaultURL);
    bAutoStart = stored.GetProfileInt(kSettingsSection, kAutoStartKey, kDefaultAutoStart);
    server.m_bListFolders =
        stored.GetProfileInt(kSettingsSection, kListFoldersKey, kDefaultListFolders) == 1;
    server.m_bPreview = stored.GetProfileInt(kSettingsSection, kPreviewKey, kDefaultPreview) == 1;
    server.m_bConcurrent =
        stored.GetProfileInt(kSettingsSection, kConcurrentKey, kDefaultConcurrent) == 1;
    server.m_bUpload = stored.GetProfileInt(kSettingsSection, kUploadKey, kDefaultUpload) == 1;
    server.m_bPrivate = stored.GetProfileInt(kSettingsSection, kPrivateKey, kDefaultPrivate) == 1;
    // A key of another form is dropped: the private link makes a fresh one.
    std::string strKey = stored.GetProfileString(kSettingsSection, kPrivateKeyKey, "");
    LowerAscii(strKey);
    if (IsPrivateKey(strKey)) {
        server.m_strPrivateKey = std::move(strKey);
    }
}

void StoreServerSettings(CProfile& profile, const CServerCore& server, int bAutoStart) {
    // One replacement of the file for all the keys, so a crash cannot leave a mix of old and
    // new values. The result is ignored on purpose: a save that cannot write changes nothing
    // in the running server, and the profile layer leaves the old file whole.
    profile.WriteProfileStrings(
        kSettingsSection,
        {{.strKey = kRootKey, .strValue = server.m_strRoot},
         {.strKey = kChannelKey,
          .strValue = CProfile::FormatProfileInt(static_cast<int>(server.m_nChannel))},
         {.strKey = kDefaultURLKey, .strValue = server.m_strDefaultURL},
         {.strKey = kAutoStartKey, .strValue = CProfile::FormatProfileInt(bAutoStart)},
         OptionalFlag(kListFoldersKey, server.m_bListFolders),
         OptionalFlag(kPreviewKey, server.m_bPreview),
         OptionalFlag(kConcurrentKey, server.m_bConcurrent),
         OptionalFlag(kUploadKey, server.m_bUpload),
         OptionalFlag(kPrivateKey, server.m_bPrivate),
         {.strKey = kPrivateKeyKey,
          .strValue = server.m_strPrivateKey,
          .bOnlyWhereStored = server.m_strPrivateKey.empty(),
          .bSecret = true}});
}
