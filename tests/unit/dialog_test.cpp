#include "dialog/dialog_actions.h"

#include "test_support.h"
#include "watchers/watcher_control.h"

class DialogTest : public PlayerTest {
  protected:
    fake::Dialog dialog;
};

TEST_F(DialogTest, OpeningShowsWhatWasStored) {
    player.store = {{"check_time_limit", 5},   {"time_limit", -5},
                    {"subsong_limit", 0},      {"check_looping", 1},
                    {"start_loop_time", -250}, {"end_loop_time", -2147483647 - 1}};

    quarvel::open_dialog(&dialog);

    EXPECT_TRUE(dialog.checked(200));
    EXPECT_EQ(dialog.text(300), "4294967291");
    EXPECT_FALSE(dialog.checked(400));
    EXPECT_TRUE(dialog.checked(1000));
    EXPECT_EQ(dialog.text(1100), "-250");
    EXPECT_EQ(dialog.text(1200), "-2147483648");
    EXPECT_EQ(player.log_of("read"),
              (Lines{"read check_time_limit", "read time_limit", "read subsong_limit",
                     "read check_looping", "read start_loop_time", "read end_loop_time"}));
    EXPECT_TRUE(player.log_of("write").empty());
}

TEST_F(DialogTest, OpeningAnEmptyStoreShowsTheDefaults) {
    quarvel::open_dialog(&dialog);
    EXPECT_FALSE(dialog.checked(200));
    EXPECT_EQ(dialog.text(300), "60");
    EXPECT_EQ(dialog.text(1100), "0");
    EXPECT_EQ(dialog.text(1200), "0");
}

TEST_F(DialogTest, FeatureBoxesExcludeEachOther) {
    dialog.boxes = {{200, true}, {1000, true}};
    quarvel::feature_box_clicked(&dialog, 200);
    EXPECT_TRUE(dialog.checked(200));
    EXPECT_FALSE(dialog.checked(1000));

    dialog.boxes = {{200, true}, {1000, true}};
    quarvel::feature_box_clicked(&dialog, 1000);
    EXPECT_FALSE(dialog.checked(200));
    EXPECT_TRUE(dialog.checked(1000));

    // Unticking one leaves the other as it was.
    dialog.boxes = {{200, false}, {1000, true}};
    quarvel::feature_box_clicked(&dialog, 200);
    EXPECT_TRUE(dialog.checked(1000));
}

TEST_F(DialogTest, SetNowTakesTheLivePosition) {
    player.position = -1;
    quarvel::set_field_to_position(&dialog, 1100);
    EXPECT_EQ(dialog.text(1100), "0");

    player.position = 83125;
    quarvel::set_field_to_position(&dialog, 1200);
    EXPECT_EQ(dialog.text(1200), "83125");
    EXPECT_EQ(player.log_of("position").size(), 2u);
}

TEST_F(DialogTest, ResetTouchesOnlyTheDialog) {
    start_loop_watcher();  // looping armed earlier
    dialog.boxes = {{1000, true}};
    dialog.texts = {{1100, L"100"}, {1200, L"200"}};
    EXPECT_EQ(quarvel::on_reset_message(&dialog), quarvel::reset_mark);
    EXPECT_FALSE(dialog.checked(1000));
    EXPECT_EQ(dialog.text(1100), "0");
    EXPECT_EQ(dialog.text(1200), "0");
    EXPECT_TRUE(player.log_of("write").empty());
    EXPECT_TRUE(quarvel::loop_watch_running()) << "only Apply or a track close ends looping";
}
