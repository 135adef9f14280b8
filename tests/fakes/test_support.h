// Shared by the native tests: a fresh fake player per test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_controls.h"
#include "fake_host.h"
#include "fake_threads.h"

using Lines = std::vector<std::string>;

class PlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        fake::open_dialog = nullptr;
    }
    void TearDown() override {
        fake::reset();
        fake::open_dialog = nullptr;
    }
    // The calls logged, without the position questions of the watchers that run meanwhile.
    Lines calls_but_positions() const {
        Lines out;
        for (auto& l : player.log())
            if (l != "position") out.push_back(l);
        return out;
    }

    fake::Player& player = fake::player();
};
