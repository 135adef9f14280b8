// Shared by the native tests: a fresh fake player per test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_controls.h"
#include "fake_host.h"
#include "fake_threads.h"

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
    fake::Player& player = fake::player();
};

using Lines = std::vector<std::string>;
