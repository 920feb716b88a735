# Writes the SHA-256 of the three images into a header (run at build time).
file(SHA256 "${APPLET}" applet)
file(SHA256 "${BOOT}" boot)
file(SHA256 "${FIRMWARE}" firmware)
file(WRITE "${OUT}"
"// Generated at build time from the embedded images; do not edit.
#pragma once
inline constexpr char kAppletSha256[] = \"${applet}\";
inline constexpr char kBootSha256[] = \"${boot}\";
inline constexpr char kFirmwareSha256[] = \"${firmware}\";
")
