#include "panel_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "sim/panel/control_panel_program.h"

namespace cpl_test {

void StoreSettings(const std::u16string& selected, DWORD rate, DWORD bufferIndex) {
  CmnRegUtil settings;
  settings.CreateDefaults();
  settings.WriteSelected(selected.c_str());
  settings.WriteNumber(kSettingSamplingRate, rate);
  settings.WriteNumber(kSettingBufferSizeIndex, bufferIndex);
}

DWORD StoredNumber(int id) { return CmnRegUtil().ReadNumber(id); }

std::u16string StoredSelected() {
  WCHAR text[kSelectedCodeUnits + 1];
  CmnRegUtil().ReadSelected(text);
  return text;
}

namespace {

const std::u16string& Installed() {
  RegisterControlPanelProgram(kPanelPath);
  static const std::u16string path = kPanelPath;
  return path;
}

}  // namespace

Panel::Panel() : PanelUser(Installed()) { EXPECT_TRUE(Started()); }

void Panel::Render(const std::string& name) const {
  const std::filesystem::path folder = "panel-artefacts";
  std::filesystem::create_directories(folder);
  EXPECT_TRUE(PanelUser::Render((folder / (name + ".png")).string()));
}

}  // namespace cpl_test
