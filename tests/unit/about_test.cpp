#include "host/about.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "fake_controls.h"

TEST(About, TextCarriesVersionAndBuildTime) {
    const std::string text = fake::narrow(quarvel::about_text);
    const std::regex format(
        "XMPlay Quarvel plugin 1\\.4 \\(built "
        "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-9]{4} "
        "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\)\n\n[^\n]+\n");
    EXPECT_TRUE(std::regex_match(text, format)) << text;
    EXPECT_STREQ(quarvel::plugin_name, "XMPlay Quarvel plugin");
    EXPECT_STREQ(quarvel::plugin_description, "XMPlay Quarvel plugin 1.4");
}
