// Window test kit (under Xvfb).
#include "tests/common/window_kit.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <cwchar>
#include <new>

using Microsoft::WRL::ComPtr;

namespace testing_support {

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (GetTickCount64() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void PumpPending(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

namespace {

// One search over the top-level windows: take(window, context) for each match, in z-order,
// until it answers false. Allocates nothing itself, so that a finder may run while a test makes
// allocations fail.
struct WindowSearch {
  DWORD processId;
  const wchar_t* className;
  DWORD threadId;
  bool visibleOnly;
  bool (*take)(HWND window, void* context);
  void* context;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  const auto* s = reinterpret_cast<const WindowSearch*>(param);
  DWORD pid = 0;
  const DWORD thread = GetWindowThreadProcessId(window, &pid);
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (pid == s->processId && wcscmp(name, s->className) == 0 &&
      (s->threadId == 0 || s->threadId == thread) && (!s->visibleOnly || IsWindowVisible(window)))
    return s->take(window, s->context) ? TRUE : FALSE;
  return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindows(DWORD processId, const wchar_t* className, DWORD threadId,
                                  bool visibleOnly) {
  std::vector<HWND> found;
  WindowSearch search = {processId, className, threadId, visibleOnly,
                         // EnumWindows is a platform frame: a failed allocation ends the
                         // search instead of unwinding through it.
                         [](HWND window, void* context) {
                           try {
                             static_cast<std::vector<HWND>*>(context)->push_back(window);
                             return true;
                           } catch (const std::bad_alloc&) {
                             return false;
                           }
                         },
                         &found};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return found;
}

HWND FindTopLevelWindow(DWORD processId, const wchar_t* className, DWORD threadId, bool visibleOnly) {
  HWND found = nullptr;
  WindowSearch search = {processId, className, threadId, visibleOnly,
                         [](HWND window, void* context) {
                           *static_cast<HWND*>(context) = window;
                           return false;
                         },
                         &found};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return found;
}

namespace {

Capture FromDc(HDC source, int x, int y, int width, int height, HWND printed) {
  Capture capture;
  if (width <= 0 || height <= 0) return capture;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(source);
  HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  if (printed != nullptr) {
    SendMessageW(printed, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  } else {
    BitBlt(dc, 0, 0, width, height, source, x, y, SRCCOPY);
  }
  GdiFlush();
  capture.width = width;
  capture.height = height;
  const auto* p = static_cast<const uint32_t*>(bits);
  capture.rgb.assign(p, p + static_cast<size_t>(width) * height);
  for (uint32_t& v : capture.rgb) v &= 0x00FFFFFF;
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return capture;
}

}  // namespace

Capture PrintClient(HWND hWnd) {
  RECT rc;
  GetClientRect(hWnd, &rc);
  HDC screen = GetDC(nullptr);
  Capture capture = FromDc(screen, 0, 0, rc.right, rc.bottom, hWnd);
  ReleaseDC(nullptr, screen);
  return capture;
}

Capture CaptureScreen(const RECT& rect) {
  HDC screen = GetDC(nullptr);
  Capture capture = FromDc(screen, rect.left, rect.top, rect.right - rect.left,
                           rect.bottom - rect.top, nullptr);
  ReleaseDC(nullptr, screen);
  return capture;
}

bool WritePng(const Capture& capture, const std::wstring& path) {
  ComPtr<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&factory))))
    return false;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  if (FAILED(factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
      FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
      FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
      FAILED(encoder->CreateNewFrame(&frame, nullptr)) || FAILED(frame->Initialize(nullptr)) ||
      FAILED(frame->SetSize(capture.width, capture.height)))
    return false;
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (FAILED(frame->SetPixelFormat(&format)) || format != GUID_WICPixelFormat24bppBGR) return false;
  const UINT stride = (capture.width * 3 + 3) & ~3u;
  std::vector<BYTE> rows(static_cast<size_t>(stride) * capture.height);
  for (int y = 0; y < capture.height; ++y) {
    for (int x = 0; x < capture.width; ++x) {
      const uint32_t v = capture.At(x, y);
      BYTE* p = &rows[static_cast<size_t>(y) * stride + x * 3];
      p[0] = v & 0xFF;
      p[1] = (v >> 8) & 0xFF;
      p[2] = (v >> 16) & 0xFF;
    }
  }
  return SUCCEEDED(frame->WritePixels(capture.height, stride, static_cast<UINT>(rows.size()),
                                      rows.data())) &&
         SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

}  // namespace testing_support
