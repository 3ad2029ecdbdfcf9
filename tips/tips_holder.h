// The process's one tips window (tips_holder.cpp): what the window itself takes from its holder,
// the host providers of its apartments and a prompt posted from another thread. The holder's
// own functions (GetUpgradeTipsWnd and the others) are declared with the window.
#pragma once
#include <windows.h>

#include <string>

#include "adapters/host_provider_cache.h"

// Posted to the window by a prompt from another thread; the description waits in the holder.
inline constexpr UINT kPromptMessage = WM_APP + 1;

// The tips window's own host service providers, one per apartment: the window's calls come
// from its own thread, so they go through the provider of that thread's apartment.
HostProviderCache& TipsHostProviders();

// Takes the description that a prompt from another thread left; false when none waits.
bool TakePendingPrompt(std::wstring& strContent);
