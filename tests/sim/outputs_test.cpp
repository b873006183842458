// What a person reads after a run, for the demo and for a run of 100 000
// frames: the picture (well-formed, both panels, a legend entry for every
// mark it draws, no text over another, small), the trace and cars files
// (every column explained in the README.txt the run writes, every value in
// its range), the log (frame and tick on every line) and the summary.
#include <cmath>
#include <regex>
#include <set>

#include "sim/picture.h"
#include "tests/sim/sim_process.h"

namespace {

using simtest::has;
using simtest::sim;

struct outputs {
  kit::ran run;
  std::string dir, name;
  std::string file(const std::string &ext) const { return test::read_text(dir + "/" + name + ext); }
};

// A long replay with something happening every 1000 frames: flights, binds,
// car changes, teleports, presets, the camera key, and now and then a held
// rewind key, a pause and a trip to the menu.
std::string busy_scenario(int frames) {
  std::string s = "cars 2\nframes " + std::to_string(frames) + "\n@10 camera 7\n";
  for (int at = 100, k = 0; at + 1000 < frames; at += 1000, ++k) {
    s += test::format("@%d hold W 200\n+0 mouse 2 1 200\n+210 press V\n+20 press C\n+30 press Z\n+10 press B\n"
                      "+30 press CTRL+%d\n+40 press %d\n+20 press V\n+5 press C\n",
                      at, k % 10, (k + 3) % 10);
    if (k % 5 == 2) s += "+40 hold COMMA 300\n+320 press SPACE\n";
    if (k % 7 == 3) s += "+40 mode menu\n+60 mode replay\n";
    if (k % 11 == 5) s += "+30 press L\n+60 camera 7\n";
  }
  return s;
}

struct Outputs : ::testing::Test {
  static inline test::temp_dir *tmp;
  static inline outputs demo, busy, short_busy;

  static outputs play(const std::string &scenario, const std::string &name) {
    outputs o{{}, tmp->path + "/out-" + name, name};
    o.run = sim(simtest::quiet(scenario, tmp->path + "/game-" + name, o.dir));
    return o;
  }
  static void SetUpTestSuite() {
    tmp = new test::temp_dir;
    demo = play(ZEPHAL_DEMO, "demo");
    test::write_text(tmp->path + "/busy.scn", busy_scenario(100000));
    test::write_text(tmp->path + "/short.scn", busy_scenario(5000));
    busy = play(tmp->path + "/busy.scn", "busy");
    short_busy = play(tmp->path + "/short.scn", "short");
  }
  static void TearDownTestSuite() { delete tmp; }
  void SetUp() override {
    for (const outputs *o : {&demo, &busy, &short_busy})
      ASSERT_EQ(o->run.status, 0) << o->name << ": " << o->run.err << o->run.out;
  }
};

std::vector<simtest::element> picture(const outputs &o) { return simtest::elements(o.file(".svg")); }

TEST_F(Outputs, PictureHasBothPanelsAndALegendEntryForEveryMarkItDraws) {
  for (const outputs *o : {&demo, &busy}) {
    const std::vector<simtest::element> svg = picture(*o);
    EXPECT_EQ(svg.at(0).name, "svg");
    std::set<std::string> panels, marks, legend;
    for (const simtest::element &e : svg) {
      if (e.name == "g" && !e.attr("id").empty()) panels.insert(e.attr("id"));
      if (e.attr("class") == "mark") marks.insert(e.attr("data-kind"));
      if (e.attr("class") == "legend") legend.insert(e.attr("data-kind"));
      if (!e.attr("data-legend").empty()) legend.insert(e.attr("data-legend"));
    }
    EXPECT_TRUE(panels.count("top-view") && panels.count("time-strip")) << o->name;
    EXPECT_TRUE(marks.count("scale")) << o->name;
    marks.erase("scale"), marks.erase("axes");  // labelled where they stand
    for (const std::string &m : marks) EXPECT_TRUE(legend.count(m)) << o->name << ": no legend entry for " << m;
    // The demo uses every feature: each has its mark.
    if (o == &demo)
      for (const char *m : {"track", "car-path", "free-path-0", "free-path-1", "path-start", "path-end", "look",
                            "position-bind-on", "rotation-bind-off", "car-change", "teleport", "camera-key",
                            "camera-shown", "rewind-back", "rewind-forward", "seek-reached", "preset-saved",
                            "preset-recalled", "preset-recalled-waiting", "snapshot-ring", "take-over", "let-go",
                            "tick-line", "band-paused", "band-menu", "band-free-second"})
        EXPECT_TRUE(marks.count(m)) << "the demo's picture lacks " << m;
  }
}

TEST_F(Outputs, NoTextInThePictureLiesOverAnother) {
  for (const outputs *o : {&demo, &busy}) {
    std::vector<std::pair<sim::text_extent, std::string>> boxes;
    for (const simtest::element &e : picture(*o)) {
      if (e.name != "text") continue;
      std::string anchor = e.attr("text-anchor");
      boxes.push_back({sim::text_box(std::stod(e.attr("x")), std::stod(e.attr("y")), std::stod(e.attr("font-size")),
                                     anchor.empty() ? "start" : anchor, e.text),
                       e.text});
    }
    EXPECT_GT(boxes.size(), 40u);
    for (size_t i = 0; i < boxes.size(); ++i)
      for (size_t j = i + 1; j < boxes.size(); ++j) {
        const sim::text_extent &a = boxes[i].first, &b = boxes[j].first;
        EXPECT_FALSE(a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1)
            << o->name << ": '" << boxes[i].second << "' and '" << boxes[j].second << "' overlap";
      }
  }
}

TEST_F(Outputs, AHundredThousandFramesMakeASmallPictureInFlatMemory) {
  const std::string svg = busy.file(".svg");
  EXPECT_LT(svg.size(), 2u << 20);
  // Thinned, never dropped: every hundredth rewind still counts in a group.
  EXPECT_TRUE(has(svg, "data-kind=\"rewind-back\"")) << "no rewinds drawn";
  EXPECT_EQ(simtest::csv(busy.file(".trace.csv")).size(), 100000u);
  // Twenty times the frames, the same memory: nothing of the run piles up.
  // (Not under AddressSanitizer, whose allocator keeps freed blocks aside.)
#ifndef __SANITIZE_ADDRESS__
  EXPECT_LT(busy.run.max_rss_kb - short_busy.run.max_rss_kb, 4096) << busy.run.max_rss_kb << " KB against "
                                                                     << short_busy.run.max_rss_kb << " KB";
#endif
}

TEST_F(Outputs, EveryColumnIsExplainedInTheReadmeAndEveryValueIsInRange) {
  const std::string readme = test::read_text(demo.dir + "/README.txt");
  const simtest::csv trace(demo.file(".trace.csv")), cars(demo.file(".cars.csv"));
  for (const auto *f : {&trace, &cars})
    for (const std::string &c : f->header)
      EXPECT_TRUE(std::regex_search(readme, std::regex("\n  " + c + " +\\S"))) << c << " is not explained";
  ASSERT_EQ(trace.rows.size(), 1800u);
  auto unit = [](double x, double y, double z) { return std::fabs(std::sqrt(x * x + y * y + z * z) - 1) < 1e-4; };
  const std::set<std::string> modes{"replay", "menu"}, onoff{"on", "off"}, binds{"none", "position", "rotation", "both"};
  for (size_t f = 0; f < trace.rows.size(); ++f) {
    auto n = [&](const char *c) { return trace.num(f, c); };
    ASSERT_EQ(n("frame"), (double)f);
    ASSERT_NEAR(n("time_s"), f / 60.0, 0.0005);
    ASSERT_TRUE(modes.count(trace.cell(f, "mode")) && onoff.count(trace.cell(f, "free_cam")) &&
                binds.count(trace.cell(f, "bind")))
        << "frame " << f;
    ASSERT_TRUE(n("paused") == 0 || n("paused") == 1) << "frame " << f;
    ASSERT_TRUE(n("replay_camera") <= 8 && n("cam_type") <= 8 && n("target_car") >= -1 && n("target_car") < 16);
    const double fx = n("fwd_x"), fy = n("fwd_y"), fz = n("fwd_z"), ux = n("up_x"), uy = n("up_y"), uz = n("up_z");
    ASSERT_TRUE(unit(fx, fy, fz) && unit(ux, uy, uz) && std::fabs(fx * ux + fy * uy + fz * uz) < 1e-4) << "frame " << f;
    ASSERT_LE(std::fabs(n("roll_deg")), 180.0);
    // The second view's columns are all there or all empty.
    ASSERT_EQ(trace.cell(f, "v1_cam_type").empty(), trace.cell(f, "v1_z_m").empty()) << "frame " << f;
  }
  // The demo rolls with Q for half a second (frames 300 to 329), then back with E.
  EXPECT_NEAR(trace.num(330, "roll_deg") - trace.num(299, "roll_deg"), -28, 3);
  EXPECT_NEAR(trace.num(366, "roll_deg"), trace.num(299, "roll_deg"), 0.01);
  EXPECT_EQ(cars.rows.size(), 1800u * 8 + 150);  // a ninth car joins 150 frames before the end
}

TEST_F(Outputs, LogLinesCarryTheFrameAndTheTickTheTraceShows) {
  const simtest::csv trace(demo.file(".trace.csv"));
  std::istringstream log(demo.file(".log"));
  const std::regex line("^ +(-|[0-9]+) +(-|[0-9]+)  (.+)$");
  int lines = 0, notes = 0;
  for (std::string l; std::getline(log, l);) {
    if (l.starts_with("#") || l.starts_with("  frame")) continue;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, line)) << l;
    ++lines;
    notes += has(l, "bind car") && has(l, "'s object lies in the game's memory");
    if (m[1] != "-") EXPECT_EQ(m[2], trace.cell(std::stoul(m[1]), "tick")) << l;
  }
  EXPECT_EQ(lines, 10 + 27);  // the loader's report, then the plug-in's lines
  EXPECT_EQ(notes, 3);
}

TEST_F(Outputs, SummarySaysWhatEachFeatureDidInAPlayersWords) {
  const std::string &out = demo.run.out;
  for (const char *line :
       {"replay            30.0 s of game time (1800 frames); the replay moved on 1335 ticks and ended paused at tick 1288",
        "free camera       on for 1550 of 1800 frames in the main view and 70 in the second view; came on 4 times, "
        "gave the view back 3 times",
        "rewind            rewound 12 times: 10 back, 2 forward; every one found its snapshot",
        "seek forward      the replay ran on to a seek's tick twice and stopped there twice",
        "car bind          position bound once, let go once; rotation bound once, let go once; bound car changed 3 times",
        "teleport          jumped behind the bound car twice",
        "replay camera     the camera on show changed 4 times; the L key switched it twice, once wrapping to camera 0",
        "presets           saved 2 (1, 2), recalled 2 (1, 2); 1 of the recalls first brought the free camera on; none "
        "empty, none refused",
        "snapshot ring     built twice"})
    EXPECT_TRUE(has(out, std::string("\n  ") + line)) << line << "\n" << out;
  EXPECT_TRUE(has(out, demo.dir + "/README.txt says what each file and column is")) << out;
}

// rsvg-convert makes no PNG of a picture that is not well-formed XML.
TEST_F(Outputs, PngIsMadeBesideThePictureWhenTheConverterIsInstalled) {
  if (system("command -v rsvg-convert >/dev/null") != 0) {
    EXPECT_TRUE(has(demo.run.out, "no PNG: rsvg-convert is not installed")) << demo.run.out;
    GTEST_SKIP() << "rsvg-convert is not installed";
  }
  for (const outputs *o : {&demo, &busy}) {
    const std::string png = o->file(".png");
    ASSERT_GT(png.size(), 24u) << o->name << ": " << o->run.out;
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    const auto be32 = [&](size_t at) { return (u8)png[at] << 24 | (u8)png[at + 1] << 16 | (u8)png[at + 2] << 8 | (u8)png[at + 3]; };
    EXPECT_EQ(be32(16), 1280u);  // as wide as the picture
  }
}

}  // namespace
