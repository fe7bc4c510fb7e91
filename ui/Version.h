// The program's version resource, as constants; the numbers come from the
// project version.
#pragma once

#include "ProjectVersion.h"

namespace version {
inline constexpr const char* kFileVersion = kProjectVersion;
inline constexpr const char* kProductVersion = kProjectVersion;
inline constexpr char kFileDescription[] = "Tarvel: a simple WWW server";
inline constexpr char kInternalName[] = "Tarvel";
inline constexpr char kOriginalFilename[] = "tarvel";
inline constexpr char kProductName[] = "Tarvel Server";
inline constexpr char kCompanyName[] = "The Tarvel developers";
inline constexpr char kLegalCopyright[] = "Copyright (C) 2025 The Tarvel developers";
}  // namespace version
