#pragma once

namespace isp::ui {

// The application: one modal main window; the program ends when it closes.
class CMainApp {
 public:
  // Command-line arguments change nothing: only the program name is passed on.
  int run(const char* programName);

 private:
  bool InitInstance();
};

}  // namespace isp::ui
