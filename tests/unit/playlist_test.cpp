#include "playlist.h"

#include <gtest/gtest.h>

using sim::parse_playlist;
using sim::PlaylistEntry;

TEST(Playlist, DescriptionWithAndWithoutSubsongs) {
    std::vector<PlaylistEntry> entries;
    std::string error;
    ASSERT_TRUE(parse_playlist("intro.mp3:3000,suite.sid:4000:3", entries, error)) << error;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].file, "intro.mp3");
    EXPECT_EQ(entries[0].length_ms, 3000);
    EXPECT_EQ(entries[0].subsongs, 0);
    EXPECT_EQ(entries[1].subsongs, 3);
}

TEST(Playlist, MalformedDescriptionsNameTheProblem) {
    const struct {
        const char* description;
        const char* names;
    } cases[] = {{"", "empty"},
                 {"a.mp3", "entry 1"},
                 {"a.mp3:1000,b.mp3", "entry 2 \"b.mp3\""},
                 {":1000", "name"},
                 {"a.mp3:0", "length"},
                 {"a.mp3:-5", "length"},
                 {"a.mp3:12x", "length"},
                 {"a.mp3:99999999999", "length"},
                 {"a.mp3:1000:-1", "subsong"},
                 {"a.mp3:1000:2:9", "expected"},
                 {"a.mp3:1000,", "entry 2"}};
    for (const auto& c : cases) {
        std::vector<PlaylistEntry> entries;
        std::string error;
        EXPECT_FALSE(parse_playlist(c.description, entries, error)) << c.description;
        EXPECT_NE(error.find(c.names), std::string::npos) << c.description << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}
