#pragma once
#include <windows.h>

#include <array>
#include <string>

#include "production/line_view.h"

// One port of the line as the view of the line words it, as a child window
// of its own class: its name and adapter, what happens there in large words
// on the state's colour, the device's name and the transfer's progress. Its
// window text is the port, the name a screen reader gives it; the state
// words are its accessible description and value. It takes the focus, so
// that Tab goes from tile to tile.
namespace isp::win32 {

struct TileFonts {
  HFONT text, name, state;
};

// The height of a line of text in font, as window w draws it.
int fontHeight(HWND w, HFONT font);
// The height `text` takes in font, wrapped at `width` as a static control
// wraps it: no lines at all for no text.
int textHeight(HWND w, HFONT font, const std::string& text, int width);

class PortTile {
 public:
  static constexpr const wchar_t* kClass = L"IspStationPortTile";
  static void registerClass();

  PortTile(HWND parent, int id, const production::Tile& tile, const TileFonts& fonts);
  ~PortTile();
  PortTile(const PortTile&) = delete;
  PortTile& operator=(const PortTile&) = delete;

  void show(const production::Tile& tile);
  HWND window() const { return hwnd_; }

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  enum Part { Name, Where, State, Detail, Previous, Device, kParts };
  static constexpr int kInside = 8;  // between the tile's edge and its parts
  HFONT fontOf(Part p) const;
  int width() const;  // of the parts
  int height(Part p, int width) const;
  void layout();
  void paint();
  void describe(const std::string& words);

  HWND hwnd_ = nullptr;
  std::array<HWND, kParts> parts_{};
  std::array<std::wstring, kParts> shown_{};
  std::array<int, kParts> heights_{};  // as laid out
  HWND progress_ = nullptr;
  TileFonts fonts_;
  std::uint32_t colour_ = 0x1000000;  // none yet
  HBRUSH brush_ = nullptr;
  std::wstring described_;
};

}  // namespace isp::win32
