#include "engine/beat_state.h"

#include <gtest/gtest.h>

#include <numeric>

namespace pendlo {
namespace {

TEST(IntervalForTempoTest, RoundsToNearestWithTiesToEven) {
  const struct {
    int tempo, interval;
  } rows[] = {{20, 3000}, {60, 1000}, {64, 938},  {72, 833},  {120, 500}, {192, 312},
              {320, 188}, {600, 100}, {257, 233}, {258, 233}, {599, 100}, {7, 8571}};
  for (const auto& row : rows) EXPECT_EQ(IntervalForTempo(row.tempo), row.interval) << row.tempo;
}

struct PatternRow {
  const char* name;
  int meter;
  std::vector<std::string> lines;
  std::vector<int> groups;
  bool defines;
};

TEST(ManageHyoushiTest, BuildsGroupsFromMeterAndDisplayLines) {
  const std::vector<PatternRow> rows = {
      {"meter 1", 0, {"999"}, {1}, false},
      {"meter 4 ignores the text", 3, {"322"}, {4}, false},
      {"nothing selected is a bar of 0", -1, {}, {0}, false},
      {"comment line with digits skipped", 9, {"/ 7/8", "322"}, {3, 2, 2}, true},
      {"leading blank is not a comment", 9, {" /32"}, {3, 2}, true},
      {"zero never counts", 9, {"0", "10"}, {1}, true},
      {"blanks and Japanese between digits", 9, {"3拍 2拍 2拍"}, {3, 2, 2}, true},
      {"full-width digits do not count", 10, {"３5"}, {5}, true},
      {"wrapped continuation of a comment counts",
       9,
       {"/ long comment", "wrapped 45"},
       {4, 5},
       true},
      {"empty text", 9, {}, {}, false},
      {"only comments and empty lines", 10, {"", "/3", ""}, {}, false},
      {"text without digits", 9, {"", "abc"}, {}, true},
  };
  for (const auto& row : rows) {
    BeatEngine engine;
    engine.SetMeterSelection(row.meter);
    engine.ChangeTempo(120);
    engine.ManageHyoushi(row.lines);
    const BeatState s = engine.Snapshot();
    const std::vector<int> got(s.Groups.begin() + 1, s.Groups.begin() + 1 + s.GroupCount);
    EXPECT_EQ(got, row.groups) << row.name;
    EXPECT_EQ(engine.PatternDefined(), row.defines) << row.name;
  }
}

TEST(ManageHyoushiTest, DigitsBeyondTheTablesAreIgnored) {
  BeatEngine engine;
  engine.SetMeterSelection(kMeterTuplets);
  engine.ChangeTempo(120);
  engine.ManageHyoushi({std::string(1000, '2'), std::string(100, '3')});
  const BeatState s = engine.Snapshot();
  EXPECT_EQ(s.GroupCount, kMaxGroups);
  EXPECT_EQ(s.Groups[1000], 2);
  EXPECT_EQ(s.Groups[1024], 3);
  EXPECT_EQ(s.SubIntervals[1024][3], 166);
}

TEST(ManageHyoushiTest, OldEntriesSurviveAShorterPatternAndPatternDefinedSticks) {
  BeatEngine engine;
  engine.SetMeterSelection(kMeterIrregular);
  engine.ChangeTempo(60);
  engine.ManageHyoushi({"357"});
  engine.SetMeterSelection(3);
  engine.ManageHyoushi({});
  BeatState s = engine.Snapshot();
  EXPECT_EQ(s.GroupCount, 1);
  EXPECT_EQ(s.Groups[1], 4);
  EXPECT_EQ(s.Groups[2], 5);
  EXPECT_EQ(s.Groups[3], 7);
  EXPECT_EQ(s.SubIntervals[3][1], 143);
  engine.SetMeterSelection(kMeterIrregular);
  engine.ManageHyoushi({"/only a comment"});
  EXPECT_TRUE(engine.PatternDefined()) << "the flag is never cleared";
}

TEST(SetIntervalTest, SplitsEachBeatIntoNotesThatAddUpToIt) {
  const struct {
    int tempo;
    char digit;
    std::vector<int> notes;
  } rows[] = {{72, '3', {278, 278, 277}},
              {60, '3', {334, 333, 333}},
              {120, '7', {72, 72, 72, 71, 71, 71, 71}},
              {600, '9', {12, 11, 11, 11, 11, 11, 11, 11, 11}},
              {60, '5', {200, 200, 200, 200, 200}}};
  for (const auto& row : rows) {
    BeatEngine engine;
    engine.SetMeterSelection(kMeterTuplets);
    engine.ChangeTempo(row.tempo);
    engine.ManageHyoushi({std::string(1, row.digit)});
    const BeatState s = engine.Snapshot();
    const std::vector<int> got(s.SubIntervals[1].begin() + 1,
                               s.SubIntervals[1].begin() + 1 + (row.digit - '0'));
    EXPECT_EQ(got, row.notes) << row.tempo << " in " << row.digit;
  }
  // Every tempo and group size: the notes sum to the beat, none shorter than 11 ms.
  for (int tempo = kTempoMin; tempo <= kTempoMax; ++tempo) {
    BeatEngine engine;
    engine.SetMeterSelection(kMeterIrregular);  // computed in irregular mode too
    const int base = engine.ChangeTempo(tempo);
    engine.ManageHyoushi({"123456789"});
    const BeatState s = engine.Snapshot();
    for (int g = 1; g <= 9; ++g) {
      const int sum =
          std::accumulate(s.SubIntervals[g].begin() + 1, s.SubIntervals[g].begin() + 1 + g, 0);
      ASSERT_EQ(sum, base) << tempo << " in " << g;
      ASSERT_GE(s.SubIntervals[g][g], 11);
    }
  }
}

}  // namespace
}  // namespace pendlo
