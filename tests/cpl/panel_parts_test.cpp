// The panel's small parts on their own: the logo's premultiplication and the information text.
#include <gtest/gtest.h>

#include "information_text.h"
#include "logo.h"

namespace {

TEST(LogoTest, ColoursArePremultipliedByAlphaBelowOpaque) {
  const struct {
    BYTE argb[4];  // B, G, R, A as GDI+ lays out 32bppARGB
    BYTE bgra[4];
  } cases[] = {
      {{200, 100, 50, 255}, {200, 100, 50, 255}},  // opaque: unchanged
      {{200, 100, 50, 0}, {0, 0, 0, 0}},           // transparent: black
      {{255, 128, 1, 128}, {128, 64, 1, 128}},     // (c x a + 127) / 255
      {{10, 20, 30, 254}, {10, 20, 30, 254}},
  };
  for (const auto& c : cases) {
    BYTE out[4];
    PremultiplyPixel(c.argb, out);
    EXPECT_EQ(std::vector<BYTE>(out, out + 4), std::vector<BYTE>(c.bgra, c.bgra + 4))
        << int(c.argb[3]);
  }
}

TEST(InformationTextTest, FourLinesWithVersionAndBuildDate) {
  const std::u16string text = InformationText("1.2.3.4", "Feb  3 2027");
  EXPECT_EQ(text.substr(0, text.find(u"\r\n", 24) + 2),
            u"Velmor USB Audio Tarn\r\nVersion 1.2.3.4  built 02/03/2027\r\n");
  EXPECT_EQ(std::count(text.begin(), text.end(), u'\n'), 4);
  EXPECT_EQ(text.substr(text.size() - 2), u"\r\n");
}

}  // namespace
