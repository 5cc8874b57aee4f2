#pragma once

namespace isp::win32 {

// The application: one modal main window; the program ends when it closes.
// Command-line arguments change nothing.
class CMainApp {
 public:
  int run();

 private:
  bool InitInstance();
};

}  // namespace isp::win32
