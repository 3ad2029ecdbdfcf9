// A second host process for the reference host tests. It writes what it saw into a result file
// (UTF-16 with a byte-order mark) and answers with its exit code:
//   refhost_probe common RESULT
//       writes GetExeFolder() and GetAppVersion(), one per line.
//   refhost_probe settings PROFILE RESULT PROMPT VERSION
//       registers a provider over PROFILE, obtains the settings as the component does, writes
//       "PROMPT VERSION" as read, then stores the given values.
#include <windows.h>

#include <cwchar>
#include <string>

#include "adapters/host_provider_cache.h"
#include "player_api/cadenza_common.h"
#include "refhost/provider/host_provider.h"

namespace {

bool WriteResult(const std::wstring& path, const std::wstring& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::wstring content = L"\xFEFF" + text;
  DWORD written = 0;
  BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size() * sizeof(wchar_t)),
                      &written, nullptr);
  CloseHandle(file);
  return ok && written == content.size() * sizeof(wchar_t);
}

int Common(const std::wstring& result) {
  std::wstring text = cadenza::GetExeFolder() + L"\n" + std::to_wstring(cadenza::GetAppVersion());
  return WriteResult(result, text) ? 0 : 2;
}

int Settings(const std::wstring& profile, const std::wstring& result, LONG prompt, DWORD version) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
  int code = 0;
  {
    refhost::HostServices services(profile);
    IHostServiceProvider* provider = nullptr;
    IHostSettings* settings = nullptr;
    LONG oldPrompt = -1;
    DWORD oldVersion = 0;
    if (FAILED(services.Register())) {
      code = 4;
    } else if (FAILED(ObtainHostObject(provider, HostObject::Settings, &settings)) || !settings) {
      code = 5;
    } else if (FAILED(settings->GetPromptUpgrade(&oldPrompt)) ||
               FAILED(settings->GetPromptedVersion(&oldVersion))) {
      code = 6;
    } else if (!WriteResult(result, std::to_wstring(oldPrompt) + L" " + std::to_wstring(oldVersion))) {
      code = 2;
    } else if (FAILED(settings->SetPromptUpgrade(prompt)) ||
               FAILED(settings->SetPromptedVersion(version))) {
      code = 7;
    }
    if (settings) settings->Release();
    if (provider) provider->Release();
  }
  CoUninitialize();
  return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"common" && argc == 3) return Common(argv[2]);
  if (command == L"settings" && argc == 6) {
    return Settings(argv[2], argv[3], static_cast<LONG>(wcstol(argv[4], nullptr, 10)),
                    static_cast<DWORD>(wcstoul(argv[5], nullptr, 10)));
  }
  return 1;
}
