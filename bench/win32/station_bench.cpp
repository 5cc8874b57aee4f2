// isp-station.exe's message loop with 16 ports programming, under Wine: the
// window itself (its library), a timer on its thread that should fire every
// 10 ms, and how late it fired, at worst and at the 99th percentile, until
// the report holds a line for each of the 16 devices; each time it fired
// over 100 ms late is said on standard error as it happens. Started by
// station_bench.sh with 16 stand-ins as COM5 to COM20. A benchmark: it
// prints figures and asserts nothing.
//
//   station_bench.exe FIRMWARE REPORT INTERVAL-MS
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "gui/win32_station/station_window.h"
#include "text/utf16.h"

namespace {

double nowMs() {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

std::vector<double> g_late;
double g_due = 0, g_start = 0;

void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
  const double now = nowMs();
  g_late.push_back(now - g_due);
  if (now - g_due > 100) std::fprintf(stderr, "gap %.0f ms ending at %.0f\n", now - g_due, now - g_start);
  g_due = now + 10;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const std::string report = isp::toUtf8(argv[2]);
  isp::production::KeptSettings s{
      .file = isp::toUtf8(argv[1]), .report = {.file = report}, .intervalMs = _wtoi(argv[3])};
  for (int n = 5; n <= 20; ++n) s.ports.push_back("COM" + std::to_string(n));
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  std::printf("%lu processors as Windows sees them\n", info.dwNumberOfProcessors);
  {
    isp::win32::StationWindow window(s);
    ShowWindow(window.window(), SW_SHOW);
    if (!window.control().start()) return 1;
    const double start = nowMs();
    g_start = start;
    g_due = start + 10;
    SetTimer(nullptr, 0, 10, tick);
    const auto lines = [&] {
      std::ifstream in(std::filesystem::path(isp::toUtf16(report)));
      return std::count(std::istreambuf_iterator<char>(in), {}, '\n');
    };
    MSG msg;
    while (lines() < 16 && nowMs() - start < 300000 && GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const double seconds = (nowMs() - start) / 1000;
    if (g_late.empty()) return 1;
    std::sort(g_late.begin(), g_late.end());
    std::printf(
        "16 ports programming (--interval %d), %.1f s, %s: timer every 10 ms late by at most %.1f ms, "
        "99th percentile %.1f ms, median %.1f ms (%zu ticks)\n",
        s.intervalMs, seconds, lines() >= 16 ? "all 16 done" : "still programming", g_late.back(),
        g_late[g_late.size() * 99 / 100], g_late[g_late.size() / 2], g_late.size());
    window.control().stopNow();
  }
  CoUninitialize();
  return 0;
}
