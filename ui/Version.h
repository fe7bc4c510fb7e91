// The program's version resource, as constants.
#pragma once

namespace version {
inline constexpr char kFileVersion[] = "1.0.0.1";
inline constexpr char kProductVersion[] = "1.1.0.1";
inline constexpr char kFileDescription[] = "Tarvel: a simple WWW server";
inline constexpr char kInternalName[] = "Tarvel";
inline constexpr char kOriginalFilename[] = "tarvel";
inline constexpr char kProductName[] = "Tarvel Server";
inline constexpr char kCompanyName[] = "The Tarvel developers";
inline constexpr char kLegalCopyright[] = "Copyright (C) 2025 The Tarvel developers";
}  // namespace version
