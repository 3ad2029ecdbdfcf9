// Identifiers the component's registration data use, shared with the registration tool.
#pragma once

inline constexpr wchar_t kComponentAppId[] = L"{D312BCC7-F7C9-46DA-941E-275C9E7D571C}";
inline constexpr unsigned kAppIdScriptId = 101;     // REGISTRY resource: the application id
inline constexpr unsigned kClassScriptId = 103;     // REGISTRY resource: the UpgradeHost class
inline constexpr wchar_t kComponentInternalName[] = L"Cadenza_Upgrade.DLL";
