// What zarmite-host shows: strip charts scaled between the limits, and lines for scripts.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "gpu_list.h"
#include "gpu_overview.h"
#include "gpu_sources.h"
#include "host_options.h"
#include "host_round.h"
#include "host_text.h"
#include "process_panel.h"
#include "script_output.h"
#include "strip_chart.h"
#include "value_units.h"

namespace {

HostSource Source(float minLimit, float maxLimit, float gridDim, const std::string& units = "%") {
    return HostSource{0, true, "GPU busy", units, "", "", maxLimit, minLimit, gridDim};
}

SourceHistory HistoryOf(std::initializer_list<float> values) {
    SourceHistory history(100);
    for (float value : values) history.Add(value);
    return history;
}

TEST(StripChart, ValuesFindTheirRowsAndOutsideValuesAreClampedAndMarked) {
    const ChartScale scale{0, 100, false};
    int clamped = 9;
    EXPECT_EQ(ChartRow(100, scale, 6, &clamped), 0);
    EXPECT_EQ(ChartRow(0, scale, 6, &clamped), 5);
    EXPECT_EQ(ChartRow(50, scale, 6, &clamped), 2);  // 2.5 rows up rounds to 3
    EXPECT_EQ(clamped, 0);
    EXPECT_EQ(ChartRow(150, scale, 6, &clamped), 0);
    EXPECT_EQ(clamped, 1);
    EXPECT_EQ(ChartRow(-1, scale, 6, &clamped), 5);
    EXPECT_EQ(clamped, -1);
    EXPECT_EQ(ChartRow(INFINITY, scale, 6, &clamped), 0);
    EXPECT_EQ(ChartRow(NAN, scale, 6, &clamped), -1);
}

TEST(StripChart, GridLinesEveryStepUnlessThereAreMoreThanRows) {
    const ChartScale scale{0, 100, false};
    EXPECT_EQ(GridRows(scale, 25, 6), (std::vector<int>{4, 2, 1}));  // 25, 50, 75
    // Nine lines for six rows: every second one, at 20, 40, 60 and 80.
    EXPECT_EQ(GridRows(scale, 10, 6), (std::vector<int>{4, 3, 2, 1}));
    const size_t tiny = GridRows(scale, 1e-9, 6).size();
    EXPECT_TRUE(tiny >= 3 && tiny <= 6) << tiny << ": a tiny step still gives a few lines";
    EXPECT_TRUE(GridRows(scale, 0, 6).empty());
    EXPECT_TRUE(GridRows(scale, -5, 6).empty());
    EXPECT_TRUE(GridRows(scale, NAN, 6).empty());
    EXPECT_EQ(GridRows(ChartScale{10, 30, false}, 10, 6).size(), 1u);  // only 20 is inside
}

TEST(StripChart, WithoutLimitsASourceScalesFromZeroToAShareOrACeilingNeverABandAroundIt) {
    const struct {
        float minLimit, maxLimit;
        const char* units;
        std::initializer_list<float> values;
        double known;
        double low, high;
    } kCases[] = {
        {0, 100, "%", {500}, 0, 0, 100},   // limits hold
        {0, 0, "%", {0, 0}, 0, 0, 100},    // a steady 0 %: on the floor
        {0, 0, "%", {37, 37}, 0, 0, 100},  // a steady 37 %: a third high
        {5, 5, "%", {120}, 0, 0, 200},     // a fan past 100 %
        {0, 0, "Raw", {3, 9, INFINITY, 6}, 0, 0, 10},
        {0, 0, "mW", {187000}, 0, 0, 200000},  // a constant: a round ceiling above it
        {0, 0, "MiB", {16368, 16368}, 0, 0, 20000},
        {0, 0, "MiB", {1024}, 16368, 0, 16368},    // the memory's total, where it is known
        {0, 0, "MiB", {20000}, 16368, 0, 20000},   // unless a value passes it
        {0, 0, "C", {-12, 40}, 0, -20, 50},        // a negative value: round below it
        {0, 0, "Raw", {NAN}, 0, 0, 1},             // nothing finite yet
        {0, 0, "Raw", {50, 0.4f, 60}, 0, 0, 100},  // a failed reading sets nothing
    };
    for (const auto& c : kCases) {
        SourceHistory history(100);
        for (float value : c.values) history.Add(value);
        const ChartScale scale =
            ScaleFor(Source(c.minLimit, c.maxLimit, 0, c.units), history, c.known);
        EXPECT_EQ(scale.low, c.low) << c.units << " first value " << *c.values.begin();
        EXPECT_EQ(scale.high, c.high) << c.units << " first value " << *c.values.begin();
    }
}

TEST(StripChart, LargeValuesAreShownInALargerUnitOrWithAnSiPrefix) {
    const struct {
        double value;
        const char* units;
        const char* text;
    } kCases[] = {
        {187000, "mW", "187 W"},     {950, "mW", "950 mW"},      {16368, "MiB", "15.98 GiB"},
        {16384, "MiB", "16 GiB"},    {2500, "KB/s", "2.5 MB/s"}, {1340.5, "MHz", "1340.5 MHz"},
        {46.1234, "%", "46.1234 %"}, {150000, "%", "150000 %"},  {187000, "Raw", "187k Raw"},
        {2100, "Raw", "2100 Raw"},   {-25000000, "", "-25M"},    {45, "C", "45 C"},
        {1.5e9, "KB/s", "1.5 TB/s"}, {20000, "MHz", "20 GHz"},   {5000, "W", "5 kW"},
        {2097152, "KiB", "2 GiB"},   {3e18, "Raw", "3000P Raw"}, {INFINITY, "mW", "inf mW"},
    };
    for (const auto& c : kCases) EXPECT_EQ(ValueWithUnits(c.value, c.units), c.text);
    // Statistics share the unit of the largest; the axis' labels the scale's.
    EXPECT_EQ(StatsText(ValueStats{2, 950, 93500, 186000}, "mW"), "min 0.95 avg 93.5 max 186 W");
    const PanelCells power = RenderPanel(Source(0, 0, 0, "mW"), HistoryOf({187000}), 60, 8);
    EXPECT_EQ(RowText(power, 1).substr(0, 10), "    200 W|") << RowText(power, 1);
    EXPECT_EQ(RowText(power, 0).substr(60 - 5), "187 W") << RowText(power, 0);
}

TEST(StripChart, APanelShowsNameValueLimitsGridAndTheNewestValueOnTheRight) {
    const PanelCells panel = RenderPanel(Source(0, 100, 25), HistoryOf({10, 50, 150}), 40, 8);
    ASSERT_EQ(panel.text.size(), 8u);
    const std::string title = RowText(panel, 0);
    EXPECT_EQ(title.substr(0, 8), "GPU busy");
    EXPECT_EQ(title.substr(40 - 5), "150 %");  // in-band values are just numbers
    EXPECT_EQ(panel.kinds[0][39], kCellMark) << "the value is above the limit";
    EXPECT_EQ(RowText(panel, 1).substr(0, 10), "      100|");
    EXPECT_EQ(RowText(panel, 6).substr(0, 10), "        0|");
    // The newest value (150) is above the limit: a full bar, marked at the top.
    EXPECT_EQ(panel.text[1][39], U'^');
    EXPECT_EQ(panel.kinds[1][39], kCellMark);
    EXPECT_EQ(panel.text[6][39], U'#');
    EXPECT_EQ(panel.kinds[6][39], kCellHeat4);
    // 50 rises 2.5 of the chart's 5 row steps, rounded to 3 (panel row 3); 10 rises 0.5,
    // rounded to 1 (panel row 5).
    EXPECT_EQ(panel.text[3][38], U'#');
    EXPECT_NE(panel.text[2][38], U'#');
    EXPECT_EQ(panel.kinds[3][38], kCellHeat0 + 2);
    EXPECT_EQ(panel.text[5][37], U'#');
    EXPECT_NE(panel.text[4][37], U'#');
    // Grid lines at 25, 50 and 75 where no bar covers them.
    EXPECT_EQ(RowText(panel, 2).substr(10, 5), "-----");
    EXPECT_EQ(panel.kinds[5][10], kCellGrid);
    EXPECT_EQ(RowText(panel, 7), std::string(40, ' '));
}

TEST(StripChart, BlockBarsResolveEightLevelsARowColouredByHeight) {
    const ChartScale scale{0, 100, false};
    int clamped = 0;
    EXPECT_EQ(BarEighths(50, scale, 6, &clamped), 24);
    EXPECT_EQ(BarEighths(0, scale, 6, &clamped), 1) << "a value at the low end still shows";
    EXPECT_EQ(BarEighths(100, scale, 6, &clamped), 48);
    EXPECT_EQ(BarEighths(150, scale, 6, &clamped), 48);
    EXPECT_EQ(clamped, 1);
    EXPECT_EQ(BarEighths(NAN, scale, 6, &clamped), -1);
    int levels = 0;
    for (int tenth = 0, last = 0; tenth <= 1000; ++tenth) {
        const int eighths = BarEighths(tenth / 10.0, scale, 6, &clamped);
        levels += eighths != last;
        last = eighths;
    }
    EXPECT_EQ(levels, 48);
    EXPECT_EQ(BlockGlyph(1), U'\u2581');
    EXPECT_EQ(BlockGlyph(8), U'\u2588');
    EXPECT_EQ(BlockGlyph(0), U' ');
    EXPECT_EQ(HeatOf(19.9, scale), kCellHeat0);
    EXPECT_EQ(HeatOf(20, scale), kCellHeat0 + 1);
    EXPECT_EQ(HeatOf(100, scale), kCellHeat4);
    EXPECT_EQ(HeatOf(1e30, scale), kCellHeat4);
    EXPECT_EQ(HeatOf(-5, scale), kCellHeat0);

    // 60 of 100 over six rows is 28.8 eighths: three full rows and five eighths.
    const PanelCells panel =
        RenderPanel(Source(0, 100, 0), HistoryOf({-5, 150, 60}), 40, 8, ChartGlyphs::kBlocks);
    for (int row = 4; row <= 6; ++row) EXPECT_EQ(panel.text[row][39], U'\u2588') << row;
    EXPECT_EQ(panel.text[3][39], U'\u2585');
    EXPECT_EQ(panel.text[2][39], U' ');
    EXPECT_EQ(panel.kinds[3][39], kCellHeat0 + 3);
    EXPECT_EQ(panel.text[1][38], U'\u25B2');
    EXPECT_EQ(panel.kinds[1][38], kCellMark);
    EXPECT_EQ(panel.text[6][37], U'\u25BC');
    EXPECT_EQ(RowText(panel, 1).substr(0, 12), "      100\u2502");
}

TEST(StripChart, TheTitleShowsMinAvgMaxOfTheValuesOnScreen) {
    SourceHistory history(100);
    for (float value : {1000.f, NAN, 10.f, 50.f, 150.f}) history.Add(value);
    const ValueStats stats = StatsOf(history, 4);  // 1000 has scrolled off
    EXPECT_EQ(stats.count, 3u);
    EXPECT_EQ(stats.min, 10);
    EXPECT_EQ(stats.avg, 70);
    EXPECT_EQ(stats.max, 150);
    EXPECT_EQ(StatsText(stats, "%"), "min 10 avg 70 max 150 %");
    EXPECT_EQ(StatsText(StatsOf(HistoryOf({NAN}), 4), "%"), "") << "nothing finite";
    EXPECT_EQ(StatsText(ValueStats{1, 2.0 / 3, 2.0 / 3, 2.0 / 3}, ""),
              "min 0.6667 avg 0.6667 max 0.6667");

    const std::string wide = RowText(RenderPanel(Source(0, 100, 0), history, 60, 8), 0);
    EXPECT_EQ(wide, "GPU busy                  min 10 avg 302.5 max 1000 %  150 %")
        << "every value shown";
    const std::string narrow = RowText(RenderPanel(Source(0, 100, 0), history, 24, 8), 0);
    EXPECT_EQ(narrow, "GPU busy           150 %") << "no room: the value alone";

    // An ASCII panel shows '?' for characters it cannot draw; a block panel draws them.
    HostSource named = Source(0, 100, 0);
    named.name = "T\xC2\xB0 \xE6\xB8\xA9";
    EXPECT_EQ(RowText(RenderPanel(named, history, 40, 8), 0).substr(0, 4), "T? ?");
    EXPECT_EQ(RowText(RenderPanel(named, history, 40, 8, ChartGlyphs::kBlocks), 0).substr(0, 7),
              "T\xC2\xB0 \xE6\xB8\xA9");
}

TEST(ScriptOutput, CsvQuotesAsRfc4180) {
    EXPECT_EQ(CsvField("plain"), "plain");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
    std::vector<HostSource> sources = {Source(0, 1, 0, "%"), Source(0, 1, 0, "")};
    sources[1].name = "Frames, \"real\"";
    EXPECT_EQ(CsvHeader(sources), "timestamp,GPU busy (%),\"Frames, \"\"real\"\"\"\n");
    // A reading as its shortest text; a failed one (the plug-in's 0.1 to 0.4 and its
    // largest float) as an empty field.
    EXPECT_EQ(CsvRound("T", {37.5f, 19.12f, 0.1f, 0.4f, 0.40000004f, FLT_MAX, 1e30f, 1300.0f,
                             187000.0f, 0.00012f, 1.5e-7f}),
              "T,37.5,19.12,,,0.40000004,,1e+30,1300,187000,0.00012,1.5e-07\n");
}

TEST(ScriptOutput, JsonEscapesTextsAndWritesNonFiniteValuesAsNull) {
    EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
    EXPECT_EQ(JsonString("Caf\xC3\xA9"), "\"Caf\xC3\xA9\"");
    EXPECT_EQ(JsonString("bad \xFF\xC3"), "\"bad \xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(JsonNumber(INFINITY), "null");
    EXPECT_EQ(JsonNumber(NAN), "null");
    EXPECT_EQ(JsonNumber(FLT_MAX), "3.4028235e+38");
    EXPECT_EQ(JsonNumber(0.4f), "0.4");
    const std::vector<HostSource> sources = {Source(0, 100, 10), Source(0, 100, 10)};
    EXPECT_EQ(JsonRound("T", sources, {INFINITY, 0.3f}),
              "{\"timestamp\":\"T\",\"values\":[{\"index\":0,\"name\":\"GPU busy\",\"units\":\"%\","
              "\"value\":null},{\"index\":0,\"name\":\"GPU busy\",\"units\":\"%\",\"value\":null,"
              "\"failed\":\"sample\"}]}\n");
}

// Two snapshots a second apart become a round's processes: shares over the round, a
// counter that went backwards, a client seen for the first time, a shared client, a
// reused pid (a new client), and a name that is no text.
TEST(ScriptOutput, GpuProcessesAreSharesOfTheRoundWithTheirTextsMadeSafe) {
    const auto client = [](uint32_t pid, uint64_t id, uint64_t graphicsNs, uint64_t videoNs) {
        GpuClient c;
        memset(&c, 0, sizeof c);
        c.pid = pid;
        c.id = id;
        c.busyNs[kEngineGraphics] = graphicsNs;
        c.busyNs[kEngineVideoDecode] = videoNs;
        c.deviceBytes = 1000;
        snprintf(c.user, sizeof c.user, "alice");
        memset(c.name, 'x', sizeof c.name);  // no terminator
        return c;
    };
    GpuProcessHistory history;
    GpuClient shared = client(10, 1, 100, 0);
    shared.flags = kGpuClientShared;
    GpuProcessesFrom({shared, client(11, 1, 100, 0), client(12, 2, 5000000000, 0)},
                     {{0, 1, 1000000000, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0}}, 1000000000, 2,
                     &history);
    GpuClient named = client(13, 4, 0, 0);
    snprintf(named.name, sizeof named.name, "bad\x1b[2J\xff");
    shared.busyNs[kEngineGraphics] = 250000100;  // a quarter of the second
    const GpuProcessRound round = GpuProcessesFrom(
        {shared, client(11, 1, 250000100, 0), client(12, 2, 1000, 0), client(12, 3, 0, 500000000),
         named},
        {{0, 1, 1600000000, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0}}, 2000000000, 2, &history);
    ASSERT_EQ(round.processes.size(), 4u);
    EXPECT_EQ(round.processes[0].name, std::string(64, 'x'));
    const std::string json = JsonProcesses(round);
    EXPECT_NE(json.find("{\"gpu\":0,\"pid\":10,\"name\":\"" + std::string(64, 'x') +
                        "\",\"user\":\"alice\",\"busy\":{\"graphics\":25},\"memory\":{"
                        "\"device\":1000,\"system\":0},\"shared\":true,\"clients\":[1]}"),
              std::string::npos)
        << json;
    // Pid 12: its first client went backwards (no time, the larger value kept), its second
    // is new (0 this round); both counted in one row.
    EXPECT_NE(json.find("\"pid\":12,\"name\":\"" + std::string(64, 'x') +
                        "\",\"user\":\"alice\",\"busy\":{\"graphics\":0,\"video_decode\":0},"
                        "\"memory\":{\"device\":2000"),
              std::string::npos)
        << json;
    EXPECT_EQ(history.clients[std::make_pair(0u, uint64_t{2})].busyNs[kEngineGraphics],
              5000000000u);
    // A round quicker than the library's reads finds the same snapshot: the same shares,
    // not a round of no time.
    const GpuProcessRound again =
        GpuProcessesFrom({shared}, {{0, 1, 1600000000, 0, 0, 0, 0}}, 2000000000, 2, &history);
    EXPECT_EQ(JsonProcesses(again), json);
    EXPECT_NE(json.find("\"pid\":13,\"name\":\"bad\\u001b[2J\xEF\xBF\xBD\",\"user\":\"alice\","
                        "\"busy\":{}"),
              std::string::npos)
        << json;
    // GPU 0 was busy 60 % of the second; its one client shared by pids 10 and 11 counts
    // once (25 %): 35 % that no client accounts for. GPU 1 has no figure of its own.
    EXPECT_NE(json.find("],\"processes_unreadable\":2,\"processes_unattributed\":[{\"gpu\":0,"
                        "\"busy\":35}]"),
              std::string::npos)
        << json;
    EXPECT_EQ(JsonProcesses(GpuProcessRound{}),
              ",\"processes\":[],\"processes_unreadable\":0,\"processes_unattributed\":[],"
              "\"processes_not_read\":[]");
}

// Two GPUs looked at at different times: each GPU's growth is over its own interval, and a
// GPU not looked at again since the last round shows that round's shares, so that a round
// between two GPUs' looks reads a steady 90 % client as 90 %, never 0 % or 100 %.
TEST(ScriptOutput, EachGpusSharesAreOverItsOwnLooks) {
    const auto client = [](uint32_t gpu, uint64_t graphicsNs) {
        GpuClient c;
        memset(&c, 0, sizeof c);
        c.gpu = gpu;
        c.pid = 100 + gpu;
        c.id = 1;
        c.busyNs[kEngineGraphics] = graphicsNs;
        return c;
    };
    const uint64_t second = 1000000000;
    GpuProcessHistory history;
    // GPU 0 is looked at on the second, GPU 1 half a second later; a client of each is busy
    // 90 % and 50 % of the time, and each GPU 95 % and 60 %.
    const auto look = [&](uint64_t gpu0At, uint64_t gpu1At) {
        return GpuProcessesFrom(
            {client(0, gpu0At * 9 / 10), client(1, gpu1At / 2)},
            {{0, 1, gpu0At * 95 / 100, 0, gpu0At, 0, 0}, {1, 1, gpu1At * 6 / 10, 0, gpu1At, 0, 0}},
            std::max(gpu0At, gpu1At), 0, &history);
    };
    look(1 * second, 1 * second + second / 2);  // the first look: no shares yet
    for (const auto& times : {std::make_pair(2 * second, 2 * second + second / 2),
                              std::make_pair(3 * second, 2 * second + second / 2),
                              std::make_pair(3 * second, 3 * second + second / 2),
                              std::make_pair(4 * second, 3 * second + second / 2)}) {
        const GpuProcessRound round = look(times.first, times.second);
        ASSERT_EQ(round.processes.size(), 2u);
        EXPECT_NEAR(round.processes[0].busyPercent[kEngineGraphics], 90, 1e-6) << times.first;
        EXPECT_NEAR(round.processes[1].busyPercent[kEngineGraphics], 50, 1e-6) << times.second;
        ASSERT_EQ(round.unattributed.size(), 2u) << times.first;
        EXPECT_NEAR(round.unattributed[0].busyPercent, 5, 1e-6);
        EXPECT_NEAR(round.unattributed[1].busyPercent, 10, 1e-6);
    }
}

// A new client reads its share from its second look; one that a look misses is back with
// its share over the time since it was last seen, never 0 % nor twice its share; what a
// GPU's look could not read is said.
TEST(ScriptOutput, ANewOrMissedClientReadsItsShareAndWhatWasNotReadIsSaid) {
    const uint64_t second = 1000000000;
    GpuProcessHistory history;
    const auto look = [&](uint64_t at, std::vector<uint64_t> busyNs) {
        std::vector<GpuClient> clients;
        for (uint64_t busy : busyNs) {
            GpuClient c;
            memset(&c, 0, sizeof c);
            c.pid = 77;
            c.id = 3;
            c.busyNs[kEngineCompute] = busy;
            clients.push_back(c);
        }
        return GpuProcessesFrom(clients, {{0, 0, 0, 0, at, 2, 5}}, at, 0, &history);
    };
    look(1 * second, {0});  // a new client: its first look
    const struct {
        uint64_t at;
        std::vector<uint64_t> busyNs;
        double percent;  // -1: no row
    } rounds[] = {{2 * second, {second / 2}, 50},
                  {3 * second, {}, -1},  // missed
                  {4 * second, {second / 2 + second}, 50},
                  {5 * second, {second / 2 + second + second / 5}, 20}};
    for (const auto& r : rounds) {
        const GpuProcessRound round = look(r.at, r.busyNs);
        if (r.percent < 0) {
            EXPECT_TRUE(round.processes.empty()) << r.at;
            continue;
        }
        ASSERT_EQ(round.processes.size(), 1u) << r.at;
        EXPECT_NEAR(round.processes[0].busyPercent[kEngineCompute], r.percent, 1e-6) << r.at;
        EXPECT_TRUE(FilterProcesses(round, 1, kAnyProcess).unread.empty()) << "GPU 0's only";
        EXPECT_NE(JsonProcesses(round).find(
                      "\"clients\":[3]}],\"processes_unreadable\":0,\"processes_unattributed\":"
                      "[],\"processes_not_read\":[{\"gpu\":0,\"late\":2,\"left_out\":5}]"),
                  std::string::npos)
            << JsonProcesses(round);
    }
}

TEST(ProcessPanel, RowsInEachOrderFitTheirWidthAndShowNoControlCharacter) {
    GpuProcessRound round;
    round.offered = true;
    round.unreadable = 3;
    round.unattributed = {{1, 12.4}};
    round.unread = {{0, 2, 0}, {1, 0, 30}};
    const auto process = [](uint32_t pid, double graphics, uint64_t mib, const char* name) {
        GpuProcess p{0, pid, name, "alice", {}, mib << 20, 0, false, {}};
        p.busyPercent.fill(-1);
        p.busyPercent[kEngineGraphics] = graphics;
        return p;
    };
    round.processes = {process(30, 5, 900, "big"), process(10, 80, 10, "busy\x1b[2J\xc3\xa9"),
                       process(20, 40, 500, "mid")};
    const auto firstColumn = [](const std::vector<std::string>& lines) {
        std::string pids;
        for (size_t i = 1; i + 1 < lines.size(); ++i) pids += lines[i].substr(1, 2) + " ";
        return pids;
    };
    EXPECT_EQ(firstColumn(ProcessPanelLines(round, ProcessOrder::kBusy, 120, 10)), "10 20 30 ");
    EXPECT_EQ(firstColumn(ProcessPanelLines(round, ProcessOrder::kMemory, 120, 10)), "30 20 10 ");
    EXPECT_EQ(firstColumn(ProcessPanelLines(round, ProcessOrder::kPid, 120, 10)), "10 20 30 ");
    const std::vector<std::string> lines = ProcessPanelLines(round, ProcessOrder::kBusy, 120, 10);
    EXPECT_NE(lines[1].find("graphics 80%"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("busy\\x1b[2J?"), std::string::npos) << lines[1];
    EXPECT_EQ(lines.back().find(" 3 processes; 3 could not be read; GPU 0: 2 not read in time; "
                                "GPU 1: 30 descriptors left out; GPU 1 12% busy by no"),
              0u)
        << lines.back();
    // One row for processes: the summary says which is shown; scrolled, the next one, and
    // never past the last.
    const std::vector<std::string> few = ProcessPanelLines(round, ProcessOrder::kBusy, 50, 3);
    ASSERT_EQ(few.size(), 3u);
    EXPECT_EQ(few[2], " 3 processes, 1-1 shown ([ ] scroll); 3 could not ");
    for (const std::string& line : few) EXPECT_LE(line.size(), 50u);
    EXPECT_EQ(firstColumn(ProcessPanelLines(round, ProcessOrder::kBusy, 120, 3, 1)), "20 ");
    EXPECT_EQ(firstColumn(ProcessPanelLines(round, ProcessOrder::kBusy, 120, 4, 9)), "20 30 ");
    // At 80 columns the busy column gives way so that 20 characters of the command show;
    // narrower, it goes.
    round.processes[2].name = "a-command-of-twenty!";
    const std::string at80 = ProcessPanelLines(round, ProcessOrder::kPid, 80, 5)[2];
    EXPECT_EQ(at80.size(), 80u);
    EXPECT_EQ(at80.substr(60), "a-command-of-twenty!") << at80;
    EXPECT_NE(at80.find("graphics 40%"), std::string::npos) << at80;
    const std::string at60 = ProcessPanelLines(round, ProcessOrder::kPid, 60, 5)[2];
    EXPECT_EQ(at60.find("graphics"), std::string::npos) << at60;
    EXPECT_NE(at60.find("a-command-of"), std::string::npos) << at60;
    EXPECT_EQ(ProcessPanelLines(GpuProcessRound{}, ProcessOrder::kBusy, 80, 5),
              std::vector<std::string>{" the counter library gives no per-process data"});
}

// zarmite-host --gpus: each GPU from its counters' names and descriptions, in the GPU
// library's and the NVML library's words, what it reads and what not and why; none.
TEST(GpuList, EachGpuWithWhatItReadsAndWhatNotAndWhyOrNone) {
    const std::vector<ListedCounter> two = {
        {"gpu0_busy", "Share of time the GPU was busy (GPU 0: i915 0000:00:02.0, Iris Xe)", 0},
        {"gpu0_fan_speed", "Fan speed: not available on this GPU (GPU 0: i915 0000:00:02.0)", 0},
        {"gpu1_busy", "Share of time the GPU was busy (GPU 1, Tesla T4)", 0},
        {"gpu1_fan_speed", "Fan speed, % (GPU 1, Tesla T4)", 3},
        {"frame_time", "not a GPU's", 0},
        {"gpu0_sm_active", "SMs: not available on this GPU (only NVIDIA's) (GPU 0: i915 x)", 0},
        {"gpu0_fp64_active", "FP64: not available on this GPU (only NVIDIA's) (GPU 0: i915)", 0},
        {"gpu0_ecc", "ECC: not available on this GPU (a reason (cut) (GPU 0: i915)", 0},
        {"gpu1_sm_active", "SMs (GPU 1, Tesla T4)", 0}};
    EXPECT_EQ(GpuListText("lib.so", two, -1, {{1, 2, 0}}),
              "2 GPUs in the counter library lib.so:\n"
              "GPU 0: i915 0000:00:02.0, Iris Xe\n  counters: 0-1, 5-7\n  reads (1): busy\n"
              "  cannot read (4): fan_speed (not available on this GPU); sm_active, fp64_active "
              "(not available on this GPU: only NVIDIA's); ecc (not available on this GPU: a "
              "reason (cut)\n"
              "GPU 1: Tesla T4\n  counters: 2-3, 8\n  reads (2): busy, sm_active\n"
              "  cannot read (1): fan_speed (its reading fails: status 3)\n"
              "  clients not read: 2 files that did not answer in time (a hung driver?)\n");
    // One GPU asked for: its entry alone, with what it reads now; one that is not there.
    std::vector<ListedCounter> read = two;
    read[2].value = 37;
    read[2].units = "%";
    EXPECT_EQ(GpuListText("lib.so", read, 1, {{1, 0, 9}, {0, 1, 0}}),
              "1 GPU in the counter library lib.so:\n"
              "GPU 1: Tesla T4\n  counters: 2-3, 8\n  reads (2): busy, sm_active\n"
              "  cannot read (1): fan_speed (its reading fails: status 3)\n  now: busy 37 %\n"
              "  clients not read: 9 descriptors left out at a cap (64 a process, 4096 a GPU)\n");
    EXPECT_EQ(GpuListText("lib.so", two, 5)
                  .find("No GPU 5 in the counter library lib.so: its "
                        "GPUs are numbered 0 to 1"),
              0u);
    const std::string none = GpuListText("lib.so", {{"frame_time", "", 0}});
    EXPECT_EQ(none.find("No GPU found by the counter library lib.so: it lists 1 counter, none "
                        "of a GPU"),
              0u)
        << none;
    EXPECT_EQ(GpuListText("lib.so", {{"gpu2_busy\x1b", "(GPU 2", 0}}),
              "1 GPU in the counter library lib.so:\nGPU 2: (its counters do not say)\n"
              "  counters: 0\n  reads (1): busy\\x1b\n");
}

TEST(DisplayText, PacesReadAsAPersonReadsThem) {
    const struct {
        uint32_t ms;
        const char* text;
    } cases[] = {{10, "10 ms"},   {500, "500 ms"},  {1000, "1 s"},     {1500, "1.5 s"},
                 {30000, "30 s"}, {60000, "1 min"}, {300000, "5 min"}, {3600000, "1 h"}};
    for (const auto& c : cases) EXPECT_EQ(DurationText(c.ms), c.text);
}

TEST(ScriptOutput, TimestampsAreIso8601LocalTimeWithTheirOffset) {
    const PlatLocalTime time{2026, 2, 1, 3, 4, 5, 6};
    EXPECT_EQ(IsoTimestamp(time, 60), "2026-02-01T03:04:05.006+01:00");
    EXPECT_EQ(IsoTimestamp(time, -330), "2026-02-01T03:04:05.006-05:30");
    EXPECT_EQ(IsoTimestamp(time, 0), "2026-02-01T03:04:05.006+00:00");
}

TEST(SourceHistory, KeepsTheNewestValuesOnceFull) {
    SourceHistory history(3);
    EXPECT_EQ(history.Size(), 0u);
    EXPECT_EQ(history.Back(0), 0.0f);
    for (float value : {1.0f, 2.0f, 3.0f, 4.0f, 5.0f}) history.Add(value);
    EXPECT_EQ(history.Size(), 3u);
    EXPECT_EQ(history.Back(0), 5.0f);
    EXPECT_EQ(history.Back(2), 3.0f);
    EXPECT_EQ(history.Back(3), 0.0f) << "older than kept";
    SourceHistory none(0);
    none.Add(1.0f);
    EXPECT_EQ(none.Size(), 0u);
    // Grown for a wider screen, it keeps its values in order and fills the new room.
    history.Grow(5);
    EXPECT_EQ(history.Size(), 3u);
    EXPECT_EQ(history.Back(0), 5.0f);
    EXPECT_EQ(history.Back(2), 3.0f);
    for (float value : {6.0f, 7.0f, 8.0f}) history.Add(value);
    EXPECT_EQ(history.Size(), 5u);
    EXPECT_EQ(history.Back(4), 4.0f);
    history.Grow(2);
    EXPECT_EQ(history.Capacity(), 5u) << "never shrinks";
}

TEST(DisplayText, ControlCharactersBecomeEscapesAndOtherTextStays) {
    EXPECT_EQ(PrintableText("Red\x1b[31mX\tY\n\x7f"), "Red\\x1b[31mX\\x09Y\\x0a\\x7f");
    EXPECT_EQ(PrintableText("C1 \xC2\x9B here"), "C1 \\u009b here");
    EXPECT_EQ(PrintableText("Caf\xC3\xA9 \xE6\xB8\xA9\xFF"), "Caf\xC3\xA9 \xE6\xB8\xA9\xFF");
    // CSV, like JSON, replaces what is not UTF-8.
    EXPECT_EQ(CsvField("bad \xFF,\xC3"), "\"bad \xEF\xBF\xBD,\xEF\xBF\xBD\"");
    EXPECT_EQ(CsvField("\xF0\x9F\x94\xA5 ok"), "\xF0\x9F\x94\xA5 ok");
    // Cells take one character each; a byte that starts none is one U+FFFD.
    EXPECT_EQ(CodePoints("a\xC3\xA9\xE2\x96\x88\xF0\x9F\x94\xA5\xFF"),
              std::u32string(U"a\u00E9\u2588\U0001F525\uFFFD"));
    std::string back;
    for (char32_t c : std::u32string(U"a\u00E9\u2588\U0001F525")) back += Utf8Of(c);
    EXPECT_EQ(back, "a\xC3\xA9\xE2\x96\x88\xF0\x9F\x94\xA5");
    EXPECT_EQ(Utf8Of(0xD800), "\xEF\xBF\xBD");
}

TEST(StripChart, AxisLabelsFitTheirNineCharactersWithTheirExponent) {
    EXPECT_EQ(NumberFitting(3.74311e38, 9), "3.743e+38");
    EXPECT_EQ(NumberFitting(-3.74311e38, 9), "-3.74e+38");
    EXPECT_EQ(NumberFitting(-1.5e-300, 9), "-1.5e-300");
    EXPECT_EQ(NumberFitting(100, 9), "100");
    EXPECT_EQ(NumberFitting(123456789, 9), "1.235e+08");
    const PanelCells panel = RenderPanel(Source(0, FLT_MAX, 0), HistoryOf({1}), 40, 8);
    EXPECT_EQ(RowText(panel, 1).substr(0, 10), "3.403e+38|");
}

TEST(HostOptions, NumbersAreDecimalAndBounded) {
    uint32_t value = 7;
    EXPECT_TRUE(ParseHostNumber("010", false, &value));
    EXPECT_EQ(value, 10u);
    EXPECT_TRUE(ParseHostNumber("08", false, &value));
    EXPECT_EQ(value, 8u);
    EXPECT_TRUE(ParseHostNumber("4294967295", false, &value));
    EXPECT_EQ(value, 4294967295u);
    for (const char* bad :
         {"", "-1", "+1", " 1", "1 ", "4294967296", "0x10", "1e3", "99999999999999999999"})
        EXPECT_FALSE(ParseHostNumber(bad, false, &value)) << bad;
    EXPECT_TRUE(ParseHostNumber("0x00010002", true, &value));
    EXPECT_EQ(value, 0x00010002u);
    EXPECT_FALSE(ParseHostNumber("0x", true, &value));
}

TEST(HostOptions, ABadCommandLineIsAUsageError) {
    struct Case {
        std::vector<const char*> arguments;
        int result;
    };
    const Case cases[] = {
        {{"host", "--plugin", "Zarmite.so", "--rounds", "010"}, 0},
        {{"host", "--plugin", ""}, 2},
        {{"host", "--plugin"}, 2},
        {{"host", "--rounds", "1"}, 2},
        {{"host", "--plugin", "p", "--count", "65536"}, 0},
        {{"host", "--plugin", "p", "--count", "65537"}, 2},
        {{"host", "--plugin", "p", "--csv", "--json"}, 2},
        {{"host", "--plugin", "p", "--interval-ms", "0x10"}, 2},
        {{"host", "--help"}, 1},
        {{"host", "-h"}, 1},
        {{"host", "--version"}, 1},
        {{"host", "--plugin", "p", "--bogus"}, 2},
        {{"host", "--gpus"}, 0},
        {{"host", "--gpus", "--gpu", "1"}, 0},
        {{"host", "--plugin", "p", "--rounds"}, 2},
        {{"host", "--plugin", "p", "--desc-version", "0x10"}, 0},
        {{"host", "--plugin", "p", "--watch", "--no-color", "--no-unload", "--watch"}, 0},
        {{"host", "--plugin", "p", "--watch", "--csv"}, 2},
        {{"host", "--plugin", "p", "--web-config", "w.yml"}, 2},
        {{"host", "--plugin", "p", "--serve", "9000", "--web-config", "w.yml"}, 0},
        {{"host", "--plugin", "p", "--processes"}, 2},
        {{"host", "--plugin", "p", "--json", "--processes", "--pid", "5"}, 0},
        {{"host", "--plugin", "p", "--pid", "5"}, 2},
        {{"host", "--plugin", "p", "--watch", "--pid", "x"}, 2},
        {{"host", "--plugin", "p", "--process-metrics"}, 2},
        {{"host", "--plugin", "p", "--textfile", "t", "--process-metrics", "--process-group",
          "container", "--process-groups", "10000"},
         0},
        {{"host", "--plugin", "p", "--textfile", ""}, 2},
        {{"host", "--plugin", "p", "--serve", "9000", "--process-group", "team"}, 2},
        {{"host", "--plugin", "p", "--serve", "9000", "--process-groups", "0"}, 2},
        {{"host", "--plugin", "p", "--serve", "9000", "--process-groups", "10001"}, 2},
        {{"host", "--plugin", "p", "--gpu", "1"}, 2},
        {{"host", "--plugin", "p", "--csv", "--gpu", "1"}, 0},
        {{"host", "--plugin", "p", "--csv", "--gpu", "100000"}, 2},
        {{"host", "--plugin", "p", "--csv", "--count", "5", "--gpu", "1"}, 2},
    };
    FILE* sink = tmpfile();
    ASSERT_NE(sink, nullptr);
    for (const Case& c : cases) {
        HostOptions options;
        EXPECT_EQ(ParseHostOptions(static_cast<int>(c.arguments.size()), c.arguments.data(),
                                   &options, sink, sink),
                  c.result)
            << c.arguments[c.arguments.size() > 2 ? c.arguments.size() - 2 : 0] << " "
            << c.arguments.back();
    }
    HostOptions options;
    const char* const decimal[] = {"host", "--plugin", "p", "--rounds", "010"};
    ASSERT_EQ(ParseHostOptions(5, decimal, &options, sink, sink), 0);
    EXPECT_EQ(options.rounds, 10u);
    fclose(sink);
}

TEST(StripChart, PanelsTooSmallOrWithoutValuesStillDraw) {
    EXPECT_TRUE(RenderPanel(Source(0, 100, 10), HistoryOf({}), 8, 8).text.empty());
    EXPECT_TRUE(RenderPanel(Source(0, 100, 10), HistoryOf({}), 40, 2).text.empty());
    const PanelCells empty = RenderPanel(Source(0, 100, 10), HistoryOf({}), 40, 8);
    EXPECT_EQ(empty.text[0].back(), U'-') << "no value yet";
    // A value that is not a number has no bar; one below the scale is marked at the bottom.
    const PanelCells odd = RenderPanel(Source(0, 100, 0), HistoryOf({-5, NAN}), 40, 8);
    EXPECT_EQ(odd.text[6][39], U' ');
    EXPECT_EQ(odd.text[6][38], U'v');
    EXPECT_NE(RowText(odd, 0).find("nan"), std::string::npos);
    // A failed reading is drawn as failed: a mark at the bottom and no bar, "failed: read"
    // in the title, and no part of the statistics or of a scale set by the values.
    const PanelCells failed = RenderPanel(Source(0, 0, 0), HistoryOf({50, 0.4f, 60, 0.2f}), 60, 8);
    EXPECT_EQ(failed.text[6][59], U'x');
    EXPECT_EQ(failed.text[5][59], U' ');
    EXPECT_EQ(failed.text[6][57], U'x');
    EXPECT_NE(RowText(failed, 0).find("min 50 avg 55 max 60"), std::string::npos)
        << RowText(failed, 0);
    EXPECT_NE(RowText(failed, 0).find("failed: add"), std::string::npos) << RowText(failed, 0);
    // However narrow, the value keeps its units and the name gives way, a space before it.
    const PanelCells narrow = RenderPanel(Source(0, 3000, 500, "MHz"), HistoryOf({1340.5f}), 14, 8);
    EXPECT_EQ(RowText(narrow, 0), "GPU 1340.5 MHz");
}

}  // namespace

namespace {

// The overview: the GPUs that sources name by the libraries' names, the fleet script's
// groups or their descriptions, each at a glance, in blocks or a line each.
TEST(GpuOverview, SourcesFindTheirGpuAndFigureAndEachGpuShowsAtAGlance) {
    const auto source = [](const char* name, const char* units, const char* group,
                           const char* description) {
        return HostSource{0, true, name, units, description, group, 0, 0, 0};
    };
    const struct {
        HostSource source;
        int gpu;
        const char* figure;
    } kCases[] = {
        {source("gpu12_power_mw", "Raw", "", ""), 12, "power"},
        {source("memory_used", "MiB", "GPU1", ""), 1, "memory_used"},
        {source("busy", "%", "GPU1x", ""), kNoGpu, "busy"},
        {source("Load", "%", "", "Share of time (GPU 3, Tesla T4)"), 3, "Load"},
        {source("GPU busy", "%", "GPU", "Share of cycles"), kNoGpu, "GPU busy"},
        {source("gpu_busy", "%", "", "(GPU x: y)"), kNoGpu, "gpu_busy"},
        {source("gpu7", "%", "GPU", ""), kNoGpu, "gpu7"},
        {source("gpu7_", "%", "", ""), kNoGpu, "gpu7_"},
        {source("gpu1234567_busy", "%", "", ""), kNoGpu, "gpu1234567_busy"},
        {source("gpu0_memory_c", "C", "", ""), 0, "memory"},
        {source("Load", "%", "", "Share (GPU 2)"), kNoGpu, "Load"},
    };
    for (const auto& c : kCases) {
        const SourceGpu of = GpuOfSource(c.source);
        EXPECT_EQ(of.gpu, c.gpu) << c.source.name;
        EXPECT_EQ(of.figure, c.figure) << c.source.name;
    }

    const char* amd = "(GPU 1: amdgpu 0000:03:00.0, Navi 21)";
    const std::vector<HostSource> sources = {
        source("gpu0_busy", "%", "", "Busy (GPU 0: i915 0000:00:02.0, Iris Xe)"),
        source("busy", "%", "GPU1", amd),
        source("memory_used", "MiB", "GPU1", amd),
        source("memory_total", "MiB", "GPU1", amd),
        source("temperature", "C", "GPU1", amd),
        source("power", "mW", "GPU1", amd),
        source("frame_time", "ms", "", "not a GPU's"),
    };
    const std::vector<float> latest = {15, 37, 1024, 16368, 45, 187000, 19};
    const std::vector<OverviewGpu> gpus = OverviewGpus(sources);
    ASSERT_EQ(gpus.size(), 2u);
    EXPECT_EQ(gpus[1].what, "amdgpu 0000:03:00.0, Navi 21");
    EXPECT_EQ(MemoryTotalOf(gpus[1], latest), 16368);

    const PanelCells blocks = RenderOverview(gpus, sources, latest, 80, true);
    ASSERT_EQ(blocks.text.size(), 10u) << "a block of five rows a GPU, one column at 80";
    EXPECT_EQ(RowText(blocks, 0).rfind("GPU 0  i915 0000:00:02.0, Iris Xe", 0), 0u);
    EXPECT_EQ(RowText(blocks, 2).rfind(" memory [....................] -", 0), 0u)
        << "no memory figure: an empty bar and a dash";
    EXPECT_EQ(RowText(blocks, 6).rfind(" busy   [#######.............] 37 %", 0), 0u)
        << RowText(blocks, 6);
    EXPECT_EQ(RowText(blocks, 7).rfind(" memory [#...................] 1 of 15.98 GiB", 0), 0u)
        << RowText(blocks, 7);
    EXPECT_EQ(RowText(blocks, 8).rfind(" 45 C  187 W", 0), 0u) << RowText(blocks, 8);
    EXPECT_EQ(blocks.kinds[6][9], kCellHeat0 + 1) << "the bar is coloured by how full it is";
    EXPECT_EQ(OverviewRows(8, 160, true), 20) << "eight GPUs at 160 columns: two blocks a row";

    // A line a GPU where blocks do not fit, a failed reading as a dash.
    const std::vector<float> failed = {15, 0.2f, 1024, 16368, 45, 187000, 19};
    const PanelCells lines = RenderOverview(gpus, sources, failed, 80, false);
    ASSERT_EQ(lines.text.size(), 2u);
    EXPECT_EQ(RowText(lines, 1),
              "GPU 1 [..........] -  memory 1 of 15.98 GiB  45 C  187 W  amdgpu 0000:03:00.0, N")
        << "cut at the width";

    // Memory from used and free where no total is read, or used alone without a bar; an SM
    // clock where no graphics clock is; a GPU whose counters do not say what it is; a name
    // that is no ASCII shown as '?' in ASCII and whole in block characters.
    const std::vector<HostSource> others = {
        source("gpu0_memory_used_mib", "MiB", "", "Used (GPU 0, T\xc3\xa9sla)"),
        source("gpu0_memory_free_mib", "MiB", "", ""),
        source("gpu0_sm_clock_mhz", "MHz", "", ""),
        source("gpu1_memory_used_mib", "MiB", "", ""),
        source("gpu1_busy", "%", "", ""),
    };
    const std::vector<OverviewGpu> two = OverviewGpus(others);
    ASSERT_EQ(two.size(), 2u);
    const std::vector<float> read = {4096, 12288, 1400, 2048, NAN};
    EXPECT_EQ(MemoryTotalOf(two[0], read), 16384);
    const PanelCells ascii = RenderOverview(two, others, read, 80, true);
    EXPECT_EQ(RowText(ascii, 0).rfind("GPU 0  T?sla", 0), 0u) << RowText(ascii, 0);
    EXPECT_EQ(RowText(ascii, 2).rfind(" memory [#####...............] 4 of 16 GiB", 0), 0u)
        << RowText(ascii, 2);
    EXPECT_EQ(RowText(ascii, 3).rfind(" SM 1400 MHz", 0), 0u) << RowText(ascii, 3);
    EXPECT_EQ(RowText(ascii, 5), "GPU 1" + std::string(75, ' '));
    EXPECT_EQ(RowText(ascii, 6).rfind(" busy   [....................] -", 0), 0u)
        << "no reading yet";
    EXPECT_EQ(RowText(ascii, 7).rfind(" memory [....................] 2 GiB", 0), 0u)
        << RowText(ascii, 7);
    const PanelCells blocks2 = RenderOverview(two, others, read, 80, true, ChartGlyphs::kBlocks);
    EXPECT_EQ(RowText(blocks2, 0).rfind("GPU 0  T\xc3\xa9sla", 0), 0u) << RowText(blocks2, 0);
    EXPECT_EQ(RowText(blocks2, 2).find("[\u2588\u2588\u2588\u2588\u2588\u2591"), 8u)
        << RowText(blocks2, 2);
    EXPECT_TRUE(RenderOverview(two, others, {}, 40, false).text.size() == 2u)
        << "no readings at all: each figure a dash";
    EXPECT_TRUE(RenderOverview({}, others, read, 80, true).text.empty());
}

}  // namespace
