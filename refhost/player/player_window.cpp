// The reference player's windows.
#include "refhost/player/player_window.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <vector>

using Microsoft::WRL::ComPtr;

namespace {
constexpr wchar_t kMainClass[] = L"CadenzaPlayerMain";

struct FindState {
  HWND main;
  HWND found;
};

BOOL CALLBACK FindTips(HWND window, LPARAM param) {
  auto* state = reinterpret_cast<FindState*>(param);
  if (window == state->main || !IsWindowVisible(window)) return TRUE;
  if (!(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST)) return TRUE;
  state->found = window;
  return FALSE;
}
}  // namespace

HWND CreatePlayerMainWindow() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kMainClass;
  RegisterClassExW(&wc);
  return CreateWindowExW(0, kMainClass, L"Cadenza", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                         640, 480, nullptr, nullptr, wc.hInstance, nullptr);
}

HWND FindShownTipsWindow(HWND mainWindow) {
  FindState state = {mainWindow, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), FindTips, reinterpret_cast<LPARAM>(&state));
  return state.found;
}

std::wstring SaveWindowPicture(HWND window, const std::wstring& path) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return L"the window is gone";
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return L"the window has no size";

  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BOOL copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!copied || bits == nullptr) {
    DeleteObject(bitmap);
    return L"the screen could not be read";
  }
  std::vector<BYTE> pixels(static_cast<const BYTE*>(bits), static_cast<const BYTE*>(bits) + width * height * 4);
  DeleteObject(bitmap);
  for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 0xFF;  // opaque

  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(factory.GetAddressOf()));
  if (SUCCEEDED(hr)) hr = factory->CreateStream(stream.GetAddressOf());
  if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
  if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.GetAddressOf());
  if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
  if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(frame.GetAddressOf(), nullptr);
  if (SUCCEEDED(hr)) hr = frame->Initialize(nullptr);
  if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
  if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
  if (SUCCEEDED(hr))
    hr = frame->WritePixels(height, width * 4, static_cast<UINT>(pixels.size()), pixels.data());
  if (SUCCEEDED(hr)) hr = frame->Commit();
  if (SUCCEEDED(hr)) hr = encoder->Commit();
  if (FAILED(hr)) {
    wchar_t text[64];
    swprintf(text, 64, L"the PNG encoder failed (0x%08lX)", static_cast<unsigned long>(hr));
    return text;
  }
  return std::wstring();
}

bool ClickAt(HWND window, int x, int y) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return false;
  if (!SetCursorPos(rect.left + x, rect.top + y)) return false;
  // Let the window see the mouse arrive (hover) before the press.
  PumpUntil([] { return false; }, 150);
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  if (SendInput(1, &inputs[0], sizeof(INPUT)) != 1) return false;
  PumpUntil([] { return false; }, 100);
  return SendInput(1, &inputs[1], sizeof(INPUT)) == 1;
}
