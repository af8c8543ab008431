// The sources as Prometheus reads them, compared as text: names, the unit table,
// escaping, sources that share a family, failed readings, an empty configuration.
#include "exposition.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>

#include "cumulative_sources.h"
#include "listen_address.h"
#include "platform.h"

namespace {

HostSource Source(uint32_t index, const std::string& name, const std::string& units,
                  const std::string& group, const std::string& description = "D") {
    return HostSource{index, true, name, units, description, group, 100, 0, 10};
}

HostRound Round(uint64_t number, std::vector<float> values) {
    return HostRound{number, 1765200000.125, 0.0005, "T", std::move(values)};
}

const std::string kBuildFamily =
    "# HELP zarmite_build_info The host's version; the value is always 1\n"
    "# TYPE zarmite_build_info gauge\nzarmite_build_info{version=\"" ZARMITE_VERSION "\"} 1\n";

const char kRoundFamilies[] =
    "# HELP zarmite_round_timestamp_seconds When the latest round of polling ended, in seconds "
    "since 1970\n# TYPE zarmite_round_timestamp_seconds gauge\n"
    "zarmite_round_timestamp_seconds 1765200000.125\n"
    "# HELP zarmite_round_duration_seconds How long the latest round of polling took\n"
    "# TYPE zarmite_round_duration_seconds gauge\nzarmite_round_duration_seconds 0.0005\n"
    "# HELP zarmite_rounds_total Rounds of polling completed\n"
    "# TYPE zarmite_rounds_total counter\nzarmite_rounds_total ";

TEST(Exposition, NamesAreLowerCaseRunsOfLettersAndDigitsWithABaseUnitSuffix) {
    EXPECT_EQ(FamilyName("GPU busy", 0, "%"), "zarmite_gpu_busy_ratio");
    EXPECT_EQ(FamilyName("  --Frame  Time!! ", 1, "ms"), "zarmite_frame_time_seconds");
    EXPECT_EQ(FamilyName("Power", 2, "mW"), "zarmite_power_watts");
    EXPECT_EQ(FamilyName("Core", 3,
                         plat_utf8_to_host_text("\xC2\xB0"
                                                "C")),
              "zarmite_core_celsius");
    EXPECT_EQ(FamilyName("Temp", 3, "C"), "zarmite_temp_celsius");
    EXPECT_EQ(FamilyName("Clock", 4, "MHz"), "zarmite_clock_hertz");
    EXPECT_EQ(FamilyName("Used", 5, "MiB"), "zarmite_used_bytes");
    EXPECT_EQ(FamilyName("Rx", 6, "KB/s"), "zarmite_rx_bytes_per_second");
    EXPECT_EQ(FamilyName("Draws", 7, "Raw"), "zarmite_draws");
    EXPECT_EQ(FamilyName("Draws", 7, "ms "), "zarmite_draws") << "units must match exactly";
    EXPECT_EQ(FamilyName("", 8, ""), "zarmite_source8");
    EXPECT_EQ(FamilyName("\xC3\x9C"
                         "ber \xE6\xB8\xA9",
                         9, ""),
              "zarmite_ber");
    EXPECT_EQ(FamilyName("Rounds total", 10, ""), "zarmite_source10") << "one of our own families";
    // Base units written as such, and names Prometheus keeps for counters and histograms.
    const struct {
        const char* name;
        const char* units;
        const char* family;
    } cases[] = {{"Uptime", "s", "zarmite_uptime_seconds"},
                 {"Heap", "B", "zarmite_heap_bytes"},
                 {"Clock", "Hz", "zarmite_clock_hertz"},
                 {"Core", "mV", "zarmite_core_volts"},
                 {"Energy", "J", "zarmite_energy_joules"},
                 {"Draw", "A", "zarmite_draw_amperes"},
                 {"Draws total", "Raw", "zarmite_draws_total_value"},
                 {"Frames count", "", "zarmite_frames_count_value"},
                 {"Time sum", "ms", "zarmite_time_sum_seconds"},
                 {"Bucket", "", "zarmite_bucket_value"}};
    for (const auto& c : cases) EXPECT_EQ(FamilyName(c.name, 11, c.units), c.family) << c.name;
    const BaseUnit volts = BaseUnitOf("mV");
    EXPECT_EQ(1250 * volts.multiplier / volts.divisor, 1.25);
    const BaseUnit ratio = BaseUnitOf("%");
    EXPECT_EQ(37.5 * ratio.multiplier / ratio.divisor, 0.375);
    const BaseUnit bytes = BaseUnitOf("MB/s");
    EXPECT_EQ(2.5 * bytes.multiplier / bytes.divisor, 2500000);
}

TEST(Exposition, FailedReadingsAreTheInBandValuesBitForBitAndWhatIsNotFinite) {
    for (float value : {0.1f, 0.2f, 0.3f, 0.4f, FLT_MAX, INFINITY, -INFINITY, NAN})
        EXPECT_TRUE(IsFailedReading(value)) << value;
    for (float value : {0.0f, 0.10000001f, 0.5f, -FLT_MAX, 1e30f})
        EXPECT_FALSE(IsFailedReading(value)) << value;
}

TEST(Exposition, SeriesLabelsEscapingAndFailedReadings) {
    Exposition exposition({Source(0, "GPU\\\nbusy", "%", "GPU \"0\""),
                           Source(1, "GPU busy", "%", "GPU \"0\""), Source(2, "Power", "W", ""),
                           Source(3, "Power", "mW", "")});
    const std::string text = exposition.Take(Round(1, {37.5f, 0.4f, 215.25f, INFINITY}));
    EXPECT_EQ(text,
              "# HELP zarmite_gpu_busy_ratio GPU\\\\\\nbusy, as a ratio (1 is 100 %)\n"
              "# TYPE zarmite_gpu_busy_ratio gauge\n"
              "zarmite_gpu_busy_ratio{group=\"GPU \\\"0\\\"\",source=\"0\"} 0.375\n"
              "# HELP zarmite_power_watts Power, in watts\n# TYPE zarmite_power_watts gauge\n"
              "zarmite_power_watts{source=\"2\"} 215.25\n"
              "# HELP zarmite_source_info Each source of the configuration, and the family that "
              "holds its series\n# TYPE zarmite_source_info gauge\n"
              "zarmite_source_info{source=\"0\",name=\"GPU\\\\\\nbusy\",units=\"%\",group=\"GPU "
              "\\\"0\\\"\",metric=\"zarmite_gpu_busy_ratio\"} 1\n"
              "zarmite_source_info{source=\"1\",name=\"GPU busy\",units=\"%\",group=\"GPU "
              "\\\"0\\\"\",metric=\"zarmite_gpu_busy_ratio\"} 1\n"
              "zarmite_source_info{source=\"2\",name=\"Power\",units=\"W\",group=\"\",metric="
              "\"zarmite_power_watts\"} 1\n"
              "zarmite_source_info{source=\"3\",name=\"Power\",units=\"mW\",group=\"\",metric="
              "\"zarmite_power_watts\"} 1\n" +
                  kBuildFamily +
                  "# HELP zarmite_source_up 1 when the source's latest reading was good, 0 when it "
                  "failed\n# TYPE zarmite_source_up gauge\n"
                  "zarmite_source_up{source=\"0\"} 1\nzarmite_source_up{source=\"1\"} 0\n"
                  "zarmite_source_up{source=\"2\"} 1\nzarmite_source_up{source=\"3\"} 0\n"
                  "# HELP zarmite_source_failed_readings_total Readings of the source that failed\n"
                  "# TYPE zarmite_source_failed_readings_total counter\n"
                  "zarmite_source_failed_readings_total{source=\"0\"} 0\n"
                  "zarmite_source_failed_readings_total{source=\"1\"} 1\n"
                  "zarmite_source_failed_readings_total{source=\"2\"} 0\n"
                  "zarmite_source_failed_readings_total{source=\"3\"} 1\n" +
                  std::string(kRoundFamilies) + "1\n");
    // The failures count up; a good reading brings the series and up = 1 back.
    const std::string next = exposition.Take(Round(2, {0.1f, 50, 1, 1500}));
    EXPECT_NE(next.find("zarmite_gpu_busy_ratio{group=\"GPU \\\"0\\\"\",source=\"1\"} 0.5\n"),
              std::string::npos);
    EXPECT_NE(next.find("zarmite_power_watts{source=\"3\"} 1.5\n"), std::string::npos);
    EXPECT_NE(next.find("zarmite_source_failed_readings_total{source=\"0\"} 1\n"),
              std::string::npos);
    EXPECT_NE(next.find("zarmite_source_up{source=\"1\"} 1\n"), std::string::npos);
    EXPECT_EQ(next.find("source=\"0\"} 0.001"), std::string::npos) << "0.1 is never a number";
}

TEST(Exposition, ASeriesKeepsItsLabelsWhenSourcesAreAddedAndNoFamilyMixesUnits) {
    const std::string alone = Exposition({Source(0, "Busy", "%", "GPU0")}).Take(Round(1, {50}));
    const std::string beside =
        Exposition({Source(0, "Busy", "%", "GPU0"), Source(1, "Busy", "%", "GPU0"),
                    Source(2, "p ratio", "Raw", ""), Source(3, "p", "%", ""),
                    Source(4, "Busy", "Raw", "")})
            .Take(Round(1, {50, 60, 7, 25, 3}));
    const std::string series = "zarmite_busy_ratio{group=\"GPU0\",source=\"0\"} 0.5\n";
    EXPECT_NE(alone.find(series), std::string::npos) << alone;
    EXPECT_NE(beside.find(series), std::string::npos) << beside;
    // Raw values and converted ones never share a family: the later source is named by
    // its position, and its HELP says its unit.
    EXPECT_NE(beside.find("zarmite_p_ratio{source=\"2\"} 7\n"), std::string::npos);
    EXPECT_NE(beside.find("# HELP zarmite_source3_ratio p, as a ratio (1 is 100 %)\n"
                          "# TYPE zarmite_source3_ratio gauge\nzarmite_source3_ratio{source=\"3\"} "
                          "0.25\n"),
              std::string::npos)
        << beside;
    EXPECT_NE(beside.find("# HELP zarmite_busy Busy, in Raw\n"), std::string::npos);
}

// A count that only grows is a counter: "_total" after its base unit, never beside a gauge
// of the same name; the sources that show one are matched to the library's counters by
// GPU and figure, in the fleet script's names and the libraries' own.
TEST(Exposition, CountsThatOnlyGrowAreCountersMatchedByGpuAndFigure) {
    const std::vector<HostSource> sources = {Source(0, "energy", "J", "GPU0"),
                                             Source(1, "gpu1_energy_j", "Raw", ""),
                                             Source(2, "xid_errors", "Raw", "GPU0"),
                                             Source(3, "energy", "J", "GPU2"),
                                             Source(4, "power", "mW", "GPU0"),
                                             Source(5, "ecc_corrected", "Raw", "Disk"),
                                             Source(6, "xid_errors_total", "Raw", "GPU0")};
    const std::vector<bool> shows = SourcesShowing(
        sources, {"gpu0_energy_j", "gpu1_energy_j", "gpu0_xid_errors", "gpu0_ecc_corrected",
                  "gpu0_xid_errors_total", "frame_count", "gpu_x"});
    EXPECT_EQ(shows, (std::vector<bool>{true, true, true, false, false, false, true}));
    const std::string text =
        Exposition(sources, shows).Take(Round(1, {4100.5f, 12, 3, 9, 1, 2, 5}));
    for (const char* expected :
         {"# HELP zarmite_energy_joules_total energy, in joules, a count that only grows\n"
          "# TYPE zarmite_energy_joules_total counter\n"
          "zarmite_energy_joules_total{group=\"GPU0\",source=\"0\"} 4100.5\n",
          "# TYPE zarmite_gpu1_energy_j_total counter\n"
          "zarmite_gpu1_energy_j_total{source=\"1\"} 12\n",
          "# TYPE zarmite_xid_errors_total counter\n",
          "# TYPE zarmite_energy_joules gauge\n"
          "zarmite_energy_joules{group=\"GPU2\",source=\"3\"} 9\n",
          "# TYPE zarmite_power_watts gauge\n",
          "# TYPE zarmite_xid_errors_total_value_total counter\n"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\nin:\n" << text;
}

TEST(Exposition, ValuesAreTheReadingsShortestTextScaledInDecimal) {
    const struct {
        float reading;
        const char* units;
        const char* text;
    } cases[] = {{1.744f, "%", "0.01744"},
                 {123.456f, "Raw", "123.456"},
                 {1710.5f, "MHz", "1710500000"},
                 {215000, "mW", "215"},
                 {0.7f, "MiB", "734003.2"},
                 {7168, "MiB", "7516192768"},
                 {1e30f, "Raw", "1e+30"},
                 {3.4e-38f, "ms", "3.4e-41"},
                 {-FLT_MAX, "KB/s", "-3.4028235e+41"}};
    for (const auto& c : cases) {
        Exposition exposition({Source(0, "Value", c.units, "")});
        const std::string text = exposition.Take(Round(1, {c.reading}));
        EXPECT_NE(text.find(std::string(" ") + c.text + "\n"), std::string::npos)
            << c.reading << " " << c.units << ":\n"
            << text.substr(0, text.find("zarmite_source_info"));
    }
}

TEST(Exposition, NoSourcesAndNoRoundYetGiveTheRoundFamiliesAlone) {
    EXPECT_EQ(
        Exposition::BeforeFirstRound(),
        kBuildFamily +
            "# HELP zarmite_round_timestamp_seconds When the latest round of polling ended, in "
            "seconds since 1970\n# TYPE zarmite_round_timestamp_seconds gauge\n"
            "zarmite_round_timestamp_seconds 0\n"
            "# HELP zarmite_round_duration_seconds How long the latest round of polling took\n"
            "# TYPE zarmite_round_duration_seconds gauge\nzarmite_round_duration_seconds 0\n"
            "# HELP zarmite_rounds_total Rounds of polling completed\n"
            "# TYPE zarmite_rounds_total counter\nzarmite_rounds_total 0\n");
    Exposition empty({});
    const std::string text = empty.Take(Round(3, {}));
    EXPECT_EQ(text.substr(text.size() - (sizeof kRoundFamilies - 1) - 2),
              std::string(kRoundFamilies) + "3\n");
    EXPECT_EQ(text.find("zarmite_source_up{"), std::string::npos);
}

TEST(ListenAddress, ABarePortIsTheLoopbackAndAnyOtherAddressMustBeNamed) {
    ListenAddress address;
    std::string error;
    ASSERT_TRUE(ParseListenAddress("9101", &address, &error));
    EXPECT_EQ(address.host, "127.0.0.1");
    EXPECT_EQ(address.port, 9101);
    ASSERT_TRUE(ParseListenAddress("0.0.0.0:80", &address, &error));
    EXPECT_EQ(address.host, "0.0.0.0");
    ASSERT_TRUE(ParseListenAddress("[::]:9101", &address, &error));
    EXPECT_TRUE(address.ipv6);
    EXPECT_EQ(address.host, "::");
    ASSERT_TRUE(ParseListenAddress("[::1]:65535", &address, &error));
    EXPECT_EQ(address.port, 65535);
    ASSERT_TRUE(ParseListenAddress(":9101", &address, &error)) << "every interface";
    EXPECT_TRUE(address.ipv6);
    EXPECT_EQ(address.host, "::");
    ASSERT_TRUE(ParseListenAddress("localhost:9101", &address, &error));
    EXPECT_EQ(address.host, "127.0.0.1");
    for (const char* bad :
         {"", "0", "65536", "localhost", "1.2.3:80", "1.2.3.4.5:80", "256.1.1.1:80", "[::1]9101",
          "[zz]:80", "9101x", ":", "1.2.3.4:", "example.com:80"})
        EXPECT_FALSE(ParseListenAddress(bad, &address, &error)) << bad;
}

}  // namespace
