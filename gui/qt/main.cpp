#include "gui/qt/main_app.h"

int main(int, char** argv) {
  isp::ui::CMainApp theApp;
  return theApp.run(argv[0]);
}
