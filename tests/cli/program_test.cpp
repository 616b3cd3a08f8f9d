// The zeverive program as a user runs it: formats end to end, the host's
// side of the plug-in contract (seen through a probe plug-in), options,
// errors that leave nothing behind, pipes, preview, PSNR and progress.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "test_support.h"

namespace zeverive::cli {
namespace {

using testing::make_y4m;
using testing::read_file;
using testing::RunResult;
using testing::RunSettings;
using testing::TempDir;
using testing::write_file;
using testing::ClipShape;
using testing::clip_shape;
using testing::zeverive;

RunSettings fed(const std::string& input) {
    RunSettings settings;
    settings.input = input;
    return settings;
}

RunSettings logging_to(const std::string& log) {
    RunSettings settings;
    settings.env["ZEVERIVE_PROBE_LOG"] = log;
    return settings;
}

RunSettings on_terminal() {
    RunSettings settings;
    settings.stderr_on_terminal = true;
    return settings;
}

// The probe in its first mode, its default, leaves every frame as it is,
// so whatever differs between input and output is the host program's
// doing; --no-auto keeps its defaults where no slider is given.
std::vector<std::string> with_probe(std::vector<std::string> args) {
    args.insert(args.begin(), {"--plugin", testing::probe_plugin(), "--no-auto"});
    return args;
}

TEST(Program, EveryFormatComesBackBitForBitWhenThePluginChangesNothing) {
    TempDir dir;
    for (const char* colourspace : {"420jpeg", "420paldv", "420mpeg2", "420", "422", "444", "mono", "420p10", "422p10",
                                    "444p10", "420p12", "444p12", "420p16", "444p16", "mono16", "mono12"}) {
        SCOPED_TRACE(colourspace);
        ClipShape shape = clip_shape(colourspace, 33, 17);
        shape.extra_header = " Ib A4:3 XCOLORRANGE=LIMITED Xcomment";
        shape.frame_params = {" XTIME=0", "", " Ip"};
        const std::string input = make_y4m(shape);
        write_file(dir.path("in.y4m"), input);
        // In this process and in workers, which decode and encode frames
        // themselves.
        for (const char* jobs : {"1", "2"}) {
            const RunResult result = zeverive(with_probe({"-j", jobs, dir.path("in.y4m"), dir.path("out.y4m")}));
            ASSERT_EQ(result.status, 0) << result.err;
            EXPECT_EQ(read_file(dir.path("out.y4m")), input) << jobs << " jobs";
        }
    }
    // Raw host frames: the plug-in's own samples, every 16-bit value.
    std::string raw;
    for (int i = 0; i < 65536 * 3; ++i) raw += static_cast<char>(i * 7919 % 251), raw += static_cast<char>(i % 256);
    write_file(dir.path("in.yc"), raw);
    for (const char* jobs : {"1", "2"}) {
        const RunResult result =
            zeverive(with_probe({"-j", jobs, "--size", "256x128", dir.path("in.yc"), dir.path("out.yc")}));
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(read_file(dir.path("out.yc")), raw) << jobs << " jobs";
    }
}

// The first pixels' luma of a raw host frame, as the probe's report mode
// writes them.
std::vector<int16_t> probe_report(const std::string& raw, size_t frame, int width) {
    std::vector<int16_t> values;
    const size_t start = frame * static_cast<size_t>(width) * 16 * 6;
    for (int i = 0; i < width; ++i) {
        const size_t at = start + static_cast<size_t>(i) * 6;
        values.push_back(static_cast<int16_t>(static_cast<uint8_t>(raw[at]) | static_cast<uint8_t>(raw[at + 1]) << 8));
    }
    return values;
}

TEST(Program, SlidersCheckBoxAndMessagesReachThePluginBeforeTheFirstFrame) {
    TempDir dir;
    write_file(dir.path("in.yc"), std::string(40 * 16 * 6 * 2, '\0'));
    const RunResult result =
        zeverive(with_probe({"--size", "40x16", "--mode", "1", "--edge-lv2", "7", "--vertical", "0",
                             "--no-nr5-rows-x10", "--message", "2031:0x00070064", "--message", "0x7EA:-1", "-j", "1",
                             dir.path("in.yc"), dir.path("out.yc")}));
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string raw = read_file(dir.path("out.yc"));
    const std::vector<int16_t> first = probe_report(raw, 0, 40);
    // Sliders: the probe's record defaults, the options given, and slider
    // 9 as the last message left it in the host's array.
    const std::vector<int16_t> sliders(first.begin(), first.begin() + 12);
    EXPECT_EQ(sliders, (std::vector<int16_t>{1, 7, 6, 7, 8, 9, 10, 11, 12, -1, 0, 0}));
    EXPECT_EQ(first[12], 0);  // check box: record default 1, turned off
    EXPECT_EQ(first[13], 3);  // settings_changed: once by the host, once per message
    EXPECT_EQ(first[14], 1);  // initialise once
    EXPECT_EQ(first[15], 2);  // both messages
    EXPECT_EQ(first[16], 0);  // no frame before this one
    EXPECT_EQ(std::vector<int16_t>(first.begin() + 17, first.begin() + 20), (std::vector<int16_t>{40, 16, 40}));
    EXPECT_EQ(std::vector<int16_t>(first.begin() + 20, first.begin() + 26),
              (std::vector<int16_t>{2031, 100, 7, 2026, -1, -1}));
    EXPECT_EQ(probe_report(raw, 1, 40)[16], 1);  // the second frame
}

TEST(Program, EachWorkerIsAPluginInstanceCalledInTheHostsOrder) {
    TempDir dir;
    const std::string log = dir.path("calls.log");
    write_file(dir.path("in.yc"), std::string(8 * 8 * 6 * 7, '\0'));
    for (const char* jobs : {"1", "3"}) {
        SCOPED_TRACE(jobs);
        write_file(log, "");
        const RunResult result =
            zeverive(with_probe({"--size", "8x8", "-j", jobs, "--message", "2031:5", dir.path("in.yc"),
                                 dir.path("out.yc")}),
                     logging_to(log));
        ASSERT_EQ(result.status, 0) << result.err;
        std::map<std::string, std::vector<std::string>> calls;
        std::istringstream lines(read_file(log));
        std::string pid, call;
        while (lines >> pid >> call) calls[pid].push_back(call);
        ASSERT_EQ(calls.size(), std::string(jobs) == "1" ? 1u : 3u);
        size_t frames = 0;
        for (const auto& [process, sequence] : calls) {
            ASSERT_GE(sequence.size(), 4u);
            EXPECT_EQ(sequence[0], "initialise");
            EXPECT_EQ(sequence[1], "settings_changed");
            EXPECT_EQ(sequence[2], "window_message");
            EXPECT_EQ(sequence[3], "settings_changed");  // the probe's own call after its message
            EXPECT_EQ(sequence.back(), "finalise");
            for (size_t i = 4; i + 1 < sequence.size(); ++i) EXPECT_EQ(sequence[i], "process_frame");
            frames += sequence.size() - 5;
        }
        EXPECT_EQ(frames, 7u);
    }
}

TEST(Program, ListPrintsTheRecordWithLabelsInUtf8) {
    const RunResult built_in = zeverive({"--list"});
    ASSERT_EQ(built_in.status, 0) << built_in.err;
    for (const char* line : {"1      --edge-lv2       20       0..150   \uFF74\uFF6F\uFF7C\uFF9ELv2\n",
                             "9      --strength       100      0..200   適用度%\n",
                             "10     --vertical       100      0..200   縦係数%\n",
                             "11     --display        0        0..2     展開値\n",
                             "0      --nr5-rows-x10   0        0, 1     Y-NR5横のみ10倍\n"}) {
        EXPECT_NE(built_in.out.find(line), std::string::npos) << line << "\nin:\n" << built_in.out;
    }
    EXPECT_EQ(built_in.out.rfind("Zeverive  (built-in plug-in)\n", 0), 0u);

    // Another record, other values: nothing is written twice in the host.
    const RunResult probe = zeverive(with_probe({"--list"}));
    ASSERT_EQ(probe.status, 0) << probe.err;
    EXPECT_NE(probe.out.find("1      --edge-lv2       5        1..7     Probe1\n"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("0      --nr5-rows-x10   1        0, 1     ProbeBox\n"), std::string::npos);
    EXPECT_NE(probe.out.find("probe plug-in for the host program's tests"), std::string::npos);
}

// Scripts (zeverive-batch, help2man) read these from standard output.
TEST(Program, VersionAndEstimateGiveScriptsOneLineToRead) {
    const RunResult version = zeverive({"--version"});
    ASSERT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out.substr(0, version.out.find('\n')), "zeverive " ZEVERIVE_VERSION);
    EXPECT_NE(version.out.find("License: MIT"), std::string::npos) << version.out;

    const RunResult estimate = zeverive({"--estimate", testing::samples_dir() + "/coffee-noisy.y4m"});
    ASSERT_EQ(estimate.status, 0) << estimate.err;
    char* end = nullptr;
    const double sigma = std::strtod(estimate.out.c_str(), &end);
    EXPECT_EQ(std::string(end), "\n") << "standard output: " << estimate.out;
    EXPECT_NEAR(sigma, 4, 0.5);
    EXPECT_NE(estimate.err.find("read for the estimate"), std::string::npos) << estimate.err;
}

TEST(Program, HelpOffersOnlyOptionsThatWorkWithTheRecordsRanges) {
    const RunResult help = zeverive({"--help"});
    ASSERT_EQ(help.status, 0);
    std::set<std::string> options;
    for (size_t at = help.out.find("--"); at != std::string::npos; at = help.out.find("--", at + 2)) {
        size_t end = at + 2;
        while (end < help.out.size() && (std::islower(help.out[end]) || std::isdigit(help.out[end]) ||
                                         help.out[end] == '-'))
            ++end;
        if (end > at + 2) options.insert(help.out.substr(at, end - at));
        at = end - 2;
    }
    for (const char* expected : {"--mode", "--edge-lv2", "--edge-lv3", "--edge-lv4", "--edge-lv5", "--nr2", "--nr3",
                                 "--nr4", "--nr5h", "--strength", "--vertical", "--display", "--nr5-rows-x10",
                                 "--message", "--tile", "--fields", "--frames", "--jobs", "--preview",
                                 "--preview-frame", "--reference", "--plugin", "--list", "--size", "--quiet"}) {
        EXPECT_EQ(options.count(expected), 1u) << expected;
    }
    // Every option the help names is one the parser knows.
    for (const std::string& name : options) {
        const RunResult result = zeverive({name, "--help"});
        EXPECT_EQ(result.err.find("arguments were not expected"), std::string::npos) << name << ": " << result.err;
        EXPECT_EQ(result.err.find("not recognized"), std::string::npos) << name << ": " << result.err;
    }
    EXPECT_NE(help.out.find("--edge-lv2 INT:0..150=20"), std::string::npos);
    const RunResult probe_help = zeverive(with_probe({"--help"}));
    EXPECT_NE(probe_help.out.find("--edge-lv2 INT:1..7=5"), std::string::npos) << probe_help.out;
}

TEST(Program, SliderValuesOutsideTheRecordsRangeAreRefusedByName) {
    TempDir dir;
    write_file(dir.path("in.y4m"), make_y4m(clip_shape("420jpeg", 16, 16)));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"--edge-lv2", "151"}, "--edge-lv2: 151 is outside the range of slider '\uFF74\uFF6F\uFF7C\uFF9ELv2', 0..150"},
        {{"--strength", "-1"}, "--strength: -1 is outside the range of slider '適用度%', 0..200"},
        {{"--mode", "4"}, "--mode: 4 is outside the range of slider 'Mode', 0..3"},
        {{"--display", "x"}, "--display: x is not a whole number; slider '展開値' takes 0..2"},
        {{"--plugin", testing::probe_plugin(), "--edge-lv2", "0"},
         "--edge-lv2: 0 is outside the range of slider 'Probe1', 1..7"},
        {{"--message", "2031"}, "--message: expected NUMBER:VALUE"},
        {{"--size", "0x16"}, "--size: expected WIDTHxHEIGHT"},
        {{"-j", "0"}, "--jobs: 0 is outside 1..256"},
        // Numbers are plain decimals: no hexadecimal, no spaces, nothing
        // that is not a finite number.
        {{"-j", "0x10"}, "--jobs: 0x10 is not a whole number"},
        {{"--sigma", "nan"}, "--sigma: nan is not a number"},
        {{"--sigma", "-nan"}, "--sigma: -nan is not a number"},
        {{"--sigma", "4,5"}, "--sigma: 4,5 is not a number"},
        {{"--sigma", "5 "}, "--sigma: 5  is not a number"},
        {{"--sigma", "0x10"}, "--sigma: 0x10 is not a number"},
        {{"--sigma", "100.5"}, "--sigma: 100.5 is outside 0..100"},
        {{"--gain", "nan"}, "--gain: nan is not a number"},
        {{"--gain", "0.0001"}, "--gain: 0.0001: expected a gain from 0.05 to 1"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back(dir.path("in.y4m"));
        args.push_back(dir.path("out.y4m"));
        const RunResult result = zeverive(args);
        EXPECT_EQ(result.status, 2) << c.message;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_FALSE(testing::exists(dir.path("out.y4m")));
    }
    const RunResult missing = zeverive({dir.path("in.y4m")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("INPUT and OUTPUT are required"), std::string::npos);
}

TEST(Program, BadInputFailsWithOneMessageAndLeavesNothingBehind) {
    TempDir dir;
    const std::string good = make_y4m(clip_shape("420jpeg", 16, 8));
    const size_t frame = 6 + 16 * 8 * 3 / 2;
    const size_t header = good.find('\n') + 1;
    write_file(dir.path("truncated.y4m"), good.substr(0, good.size() - 10));
    write_file(dir.path("header.y4m"), "YUV4MPEG2 W16 Hx\n" + good.substr(header));
    write_file(dir.path("colourspace.y4m"), "YUV4MPEG2 W16 H8 C410\n" + good.substr(header));
    write_file(dir.path("zero.y4m"), "YUV4MPEG2 W0 H8\n");
    write_file(dir.path("marker.y4m"), good.substr(0, header + frame) + "FRAMES\n" + good.substr(header + frame + 6));
    write_file(dir.path("raw.yc"), std::string(16 * 8 * 6 * 2 + 30, '\0'));
    std::filesystem::create_directory(dir.path("adir"));

    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string out = dir.path("out.y4m");
    const Case cases[] = {
        {{dir.path("truncated.y4m"), out}, dir.path("truncated.y4m") + ": frame 2: truncated: 182 of 192 bytes"},
        {{dir.path("header.y4m"), out}, dir.path("header.y4m") + ": stream header: malformed height 'Hx'"},
        {{dir.path("colourspace.y4m"), out}, dir.path("colourspace.y4m") + ": stream header: unknown colourspace 'C410'"},
        {{dir.path("zero.y4m"), out}, dir.path("zero.y4m") + ": stream header: zero-sized frames (0x8)"},
        {{dir.path("marker.y4m"), out}, dir.path("marker.y4m") + ": frame 1: expected a FRAME line, found 'FRAMES"},
        {{"--size", "16x8", dir.path("raw.yc"), dir.path("out.yc")},
         dir.path("raw.yc") + ": frame 2: truncated: 30 of 768 bytes; the input does not hold whole 16x8 frames"},
        {{"--size", "8x16", dir.path("truncated.y4m"), out},
         dir.path("truncated.y4m") + ": stream header: the frames are 16x8, not 8x16 as --size says"},
        {{dir.path("missing.y4m"), out}, dir.path("missing.y4m") + ": cannot open: No such file or directory"},
        {{dir.path("adir"), out}, dir.path("adir") + ": cannot read: it is a directory"},
        {{dir.path("truncated.y4m"), dir.path("no/dir/out.y4m")},
         dir.path("no/dir/out.y4m") + ": cannot create: No such file or directory"},
        {{dir.path("truncated.y4m"), dir.path("adir")}, dir.path("adir") + ": cannot write: it is a directory"},
        {{dir.path("truncated.y4m"), dir.path("truncated.y4m")},
         dir.path("truncated.y4m") + ": this is an input file; the output needs another name"},
        {{dir.path("truncated.y4m"), dir.path("out.yc")}, dir.path("out.yc") + ": the output has the input's format"},
    };
    const std::string before_names = [&] {
        std::string names;
        for (const std::string& name : dir.files()) names += name + " ";
        return names;
    }();
    for (const Case& c : cases) {
        for (const char* jobs : {"1", "2"}) {
            std::vector<std::string> args = c.args;
            args.insert(args.begin(), {"-j", jobs, "-q"});
            const RunResult result = zeverive(args);
            EXPECT_EQ(result.status, 1) << c.message;
            EXPECT_EQ(result.err.rfind("zeverive: " + c.message, 0), 0u) << result.err;
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
            std::string names;
            for (const std::string& name : dir.files()) names += name + " ";
            EXPECT_EQ(names, before_names) << c.message;
        }
    }
}

TEST(Program, AnExistingOutputSurvivesAFailedRunUnchanged) {
    TempDir dir;
    const std::string good = make_y4m(clip_shape("420jpeg", 16, 8));
    const std::string truncated = good.substr(0, good.size() - 10);
    write_file(dir.path("truncated.y4m"), truncated);
    write_file(dir.path("out.y4m"), "precious");
    EXPECT_EQ(zeverive({dir.path("truncated.y4m"), dir.path("out.y4m")}).status, 1);
    EXPECT_EQ(read_file(dir.path("out.y4m")), "precious");
    EXPECT_EQ(read_file(dir.path("truncated.y4m")), truncated);
}

// Six frames through the probe with -j `jobs`, the probe told by
// `variable` how to fail.
RunResult failing_probe_run(const TempDir& dir, const char* jobs, const std::string& variable) {
    ClipShape shape = clip_shape("420jpeg", 16, 8);
    shape.frames = 6;
    write_file(dir.path("in.y4m"), make_y4m(shape));
    RunSettings settings;
    settings.env[variable] = "1";
    return zeverive(with_probe({"-j", jobs, dir.path("in.y4m"), dir.path("out.y4m")}), settings);
}

TEST(Program, APluginThatCannotSetUpLeavesNoOutput) {
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(jobs);
        TempDir dir;
        const RunResult refused = failing_probe_run(dir, jobs, "ZEVERIVE_PROBE_FAIL_INITIALISE");
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, "zeverive: " + testing::probe_plugin() +
                                   ": initialise failed (the plug-in could not allocate its buffers)\n");
        EXPECT_EQ(dir.files(), std::vector<std::string>{"in.y4m"});
    }
}

TEST(Program, APluginThatCrashesInThisProcessLeavesNoOutput) {
    TempDir dir;
    const RunResult crashed = failing_probe_run(dir, "1", "ZEVERIVE_PROBE_ABORT_AT");
    // The program dies of the plug-in's signal.
    EXPECT_EQ(crashed.status, 128 + SIGABRT);
    EXPECT_EQ(crashed.err, "zeverive: crashed; no output was written\n");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"in.y4m"});
}

TEST(Program, APluginThatCrashesInAWorkerIsNamedWithTheFrameLost) {
    TempDir dir;
    const RunResult crashed = failing_probe_run(dir, "2", "ZEVERIVE_PROBE_ABORT_AT");
    EXPECT_EQ(crashed.status, 1);
    EXPECT_EQ(crashed.err, "zeverive: " + dir.path("in.y4m") +
                               ": frame 2: the worker process was killed by signal 6 (Aborted)\n");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"in.y4m"});
}

TEST(Program, PluginFilesAreLoadedOrRefused) {
    TempDir dir;
    write_file(dir.path("in.y4m"), make_y4m(clip_shape("420jpeg", 16, 8)));
    write_file(dir.path("garbage.so"), "not an ELF file");
    const RunResult garbage = zeverive({"--plugin", dir.path("garbage.so"), "--list"});
    EXPECT_EQ(garbage.status, 1);
    EXPECT_EQ(garbage.err.rfind("zeverive: " + dir.path("garbage.so") + ": cannot load the plug-in: ", 0), 0u);
    const RunResult other = zeverive({"--plugin", NOT_A_PLUGIN, "--list"});
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.err, std::string("zeverive: ") + NOT_A_PLUGIN + ": not a plug-in: it has no GetFilterTable\n");
    const RunResult data = zeverive({"--plugin", DATA_SYMBOL_PLUGIN, "--list"});
    EXPECT_EQ(data.status, 1);
    EXPECT_EQ(data.err,
              std::string("zeverive: ") + DATA_SYMBOL_PLUGIN + ": not a plug-in: its GetFilterTable is no function\n");
    const RunResult shared = zeverive({"--plugin", testing::shared_plugin(), "--list"});
    EXPECT_EQ(shared.status, 0);
    EXPECT_EQ(shared.out.rfind("Zeverive  (" + testing::shared_plugin() + ")\n", 0), 0u);
}

// ZEVERIVE_VARIANT reaches the built-in plug-in in this process and in
// every worker (x87's rounding differs from the SSE forms' on this clip),
// and what cannot be honoured is refused before anything is written.
TEST(Program, TheVariantTheEnvironmentNamesRunsOrIsRefused) {
    TempDir dir;
    const std::string clip = testing::samples_dir() + "/coffee-noisy.y4m";
    auto run_with = [&](const std::string& variant, const std::string& jobs, const std::string& out) {
        RunSettings settings;
        if (!variant.empty()) settings.env["ZEVERIVE_VARIANT"] = variant;
        return zeverive({"-q", "--no-auto", "-j", jobs, clip, dir.path(out)}, settings);
    };
    ASSERT_EQ(run_with("", "1", "chosen.y4m").status, 0);
    ASSERT_EQ(run_with("x87", "1", "x87.y4m").status, 0);
    ASSERT_EQ(run_with("x87", "2", "x87-workers.y4m").status, 0);
    EXPECT_NE(read_file(dir.path("x87.y4m")), read_file(dir.path("chosen.y4m")));
    EXPECT_EQ(read_file(dir.path("x87-workers.y4m")), read_file(dir.path("x87.y4m")));

    const RunResult unknown = run_with("mmx", "1", "unknown.y4m");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err.rfind("zeverive: ZEVERIVE_VARIANT=mmx: no such kernel variant", 0), 0u) << unknown.err;
    RunSettings with_file;
    with_file.env["ZEVERIVE_VARIANT"] = "sse";
    const RunResult other = zeverive({"--plugin", testing::shared_plugin(), "-q", clip, dir.path("file.y4m")}, with_file);
    EXPECT_EQ(other.status, 2);
    EXPECT_NE(other.err.find("built-in plug-in only"), std::string::npos) << other.err;
    EXPECT_FALSE(testing::exists(dir.path("unknown.y4m")));
    EXPECT_FALSE(testing::exists(dir.path("file.y4m")));
}

TEST(Program, PipesCarryTheSameBytesAsFiles) {
    TempDir dir;
    ClipShape shape = clip_shape("422p10", 40, 24);
    shape.frames = 4;
    const std::string input = make_y4m(shape);
    write_file(dir.path("in.y4m"), input);
    const RunResult files = zeverive({dir.path("in.y4m"), dir.path("out.y4m")});
    ASSERT_EQ(files.status, 0) << files.err;
    const RunResult piped = zeverive({"-j", "2", "-", "-"}, fed(input));
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, read_file(dir.path("out.y4m")));
    // The pipe's frames read for the estimate still reach the output, and
    // the estimate is the file's (here both read every frame).
    EXPECT_EQ(piped.err, files.err);
}

TEST(Program, RawHostFramesThroughAPipeAreToldApartBySize) {
    const RunResult raw = zeverive(with_probe({"--size", "4x2", "-", "-"}), fed(std::string(4 * 2 * 6, 'z')));
    ASSERT_EQ(raw.status, 0) << raw.err;
    EXPECT_EQ(raw.out, std::string(4 * 2 * 6, 'z'));
}

// The last frame read for the estimate is still looked back into when the
// frame after it has no marker of its own: a short last sampled frame is
// named as such (the sanitizer build catches a look into freed memory).
TEST(Program, AShortFrameRightAfterThePipesSampleIsNamed) {
    ClipShape shape = clip_shape("420jpeg", 16, 16);
    shape.frames = 10;
    std::string input = make_y4m(shape);
    const size_t frame = std::string("FRAME\n").size() + 16 * 16 * 3 / 2;
    const size_t last_sampled = input.find('\n') + 1 + 7 * frame;
    input.erase(last_sampled + 100, 40);
    const RunResult piped = zeverive({"-j", "1", "-", "-"}, fed(input));
    EXPECT_EQ(piped.status, 1);
    EXPECT_NE(piped.err.find(": frame 7: short frame: 344 bytes of picture data, not 384"), std::string::npos)
        << piped.err;
}

// Three frames of 20x10, clean.y4m and noisy.y4m, differing by their seed.
ClipShape write_clean_and_noisy(const TempDir& dir) {
    ClipShape shape = clip_shape("420jpeg", 20, 10);
    shape.frames = 3;
    write_file(dir.path("clean.y4m"), make_y4m(shape));
    shape.seed = 2;
    write_file(dir.path("noisy.y4m"), make_y4m(shape));
    return shape;
}

TEST(Program, PreviewAndReferenceReportOnTheRun) {
    TempDir dir;
    write_clean_and_noisy(dir);
    const RunResult result = zeverive(with_probe({"--reference", dir.path("clean.y4m"), "--preview", dir.path("p.png"),
                                                  "--preview-frame", "2", dir.path("noisy.y4m"), dir.path("out.y4m")}));
    ASSERT_EQ(result.status, 0) << result.err;
    // The probe changes nothing, so input and output match the clean clip
    // equally; the value is the luma PSNR of the two clips, worked out here.
    const auto clean = testing::luma_of_y4m(read_file(dir.path("clean.y4m")), 20, 10);
    const auto noisy = testing::luma_of_y4m(read_file(dir.path("noisy.y4m")), 20, 10);
    double squared = 0;
    for (size_t f = 0; f < 3; ++f)
        for (size_t i = 0; i < 200; ++i) squared += (clean[f][i] - noisy[f][i]) * (clean[f][i] - noisy[f][i]);
    char expected[64];
    std::snprintf(expected, sizeof expected, "input %.2f dB, output %.2f dB (+0.00 dB)",
                  10 * std::log10(255.0 * 255.0 / (squared / 600)), 10 * std::log10(255.0 * 255.0 / (squared / 600)));
    EXPECT_EQ(result.err, "luma PSNR against " + dir.path("clean.y4m") + " over 3 frames: " + expected + "\n");
    const std::string png = read_file(dir.path("p.png"));
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    // Width and height in the IHDR chunk: both frames side by side.
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\x28\0\0\0\x0a", 8));
}

// What the files' sizes tell is checked before the first frame: a preview
// frame past the end, a reference of another length or kind.
TEST(Program, LengthsTheFilesTellAreCheckedBeforeTheFirstFrame) {
    TempDir dir;
    ClipShape shape = write_clean_and_noisy(dir);
    const RunResult late = zeverive(with_probe({"--preview", dir.path("p.png"), "--preview-frame", "3",
                                                dir.path("noisy.y4m"), dir.path("out.y4m")}));
    EXPECT_EQ(late.status, 1);
    EXPECT_EQ(late.err, "zeverive: --preview-frame 3: " + dir.path("noisy.y4m") +
                            " has only 3 frames (numbered from 0)\n");
    shape.frames = 2;
    write_file(dir.path("short.y4m"), make_y4m(shape));
    const RunResult short_reference =
        zeverive(with_probe({"--reference", dir.path("short.y4m"), dir.path("noisy.y4m"), dir.path("out.y4m")}));
    EXPECT_EQ(short_reference.status, 1);
    EXPECT_EQ(short_reference.err, "zeverive: " + dir.path("short.y4m") +
                                       ": the reference has 2 frames, the input 3; the clips do not match\n");
    write_file(dir.path("other.y4m"), make_y4m(clip_shape("420p10", 20, 10)));
    const RunResult other =
        zeverive(with_probe({"--reference", dir.path("other.y4m"), dir.path("noisy.y4m"), dir.path("out.y4m")}));
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.err, "zeverive: " + dir.path("other.y4m") +
                             ": the reference holds 20x10 10-bit frames, the input 20x10 8-bit frames\n");
    EXPECT_FALSE(testing::exists(dir.path("out.y4m")));
    EXPECT_FALSE(testing::exists(dir.path("p.png")));
}

// Through a pipe the length shows only at the end: the finished output
// stays, the problem is reported and the exit status is 1.
TEST(Program, LengthsAPipeTellsAtItsEndFailTheRunButKeepTheOutput) {
    TempDir dir;
    ClipShape shape = write_clean_and_noisy(dir);
    shape.frames = 2;
    write_file(dir.path("short.y4m"), make_y4m(shape));
    const std::string noisy_bytes = read_file(dir.path("noisy.y4m"));
    for (const auto& [args, message] :
         {std::pair{std::vector<std::string>{"--preview", dir.path("p.png"), "--preview-frame", "5"},
                    std::string("--preview-frame 5: standard input has only 3 frames (numbered from 0)")},
          std::pair{std::vector<std::string>{"--reference", dir.path("short.y4m")},
                    dir.path("short.y4m") + ": the reference has only 2 frames, the input 3 frames; no PSNR"}}) {
        std::vector<std::string> piped = args;
        piped.insert(piped.end(), {"-", dir.path("out.y4m")});
        const RunResult result = zeverive(with_probe(piped), fed(noisy_bytes));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "zeverive: " + message + "\n");
        EXPECT_EQ(read_file(dir.path("out.y4m")), noisy_bytes);
        EXPECT_FALSE(testing::exists(dir.path("p.png")));
        std::filesystem::remove(dir.path("out.y4m"));
    }
}

TEST(Program, AReferenceLongerThanAPipedInputIsNamed) {
    TempDir dir;
    write_clean_and_noisy(dir);
    const std::string noisy_bytes = read_file(dir.path("noisy.y4m"));
    const size_t frame_bytes = (noisy_bytes.size() - noisy_bytes.find('\n') - 1) / 3;
    const std::string two_frames = noisy_bytes.substr(0, noisy_bytes.size() - frame_bytes);
    const RunResult longer = zeverive(with_probe({"--reference", dir.path("clean.y4m"), "-", dir.path("out.y4m")}),
                                      fed(two_frames));
    EXPECT_EQ(longer.status, 1);
    EXPECT_EQ(longer.err, "zeverive: " + dir.path("clean.y4m") +
                              ": the reference has more frames than the input's 2 frames; the clips do not match, "
                              "no PSNR\n");
    EXPECT_EQ(read_file(dir.path("out.y4m")), two_frames);
}

TEST(Program, ProgressGoesToATerminalOnly) {
    TempDir dir;
    ClipShape shape = clip_shape("420jpeg", 16, 8);
    shape.frames = 5;
    write_file(dir.path("in.y4m"), make_y4m(shape));
    const RunResult terminal = zeverive({dir.path("in.y4m"), dir.path("out.y4m")}, on_terminal());
    ASSERT_EQ(terminal.status, 0) << terminal.err;
    EXPECT_NE(terminal.err.find("frame 5/5"), std::string::npos) << terminal.err;
    EXPECT_NE(terminal.err.find(" fps"), std::string::npos);
    const RunResult quiet = zeverive({"--quiet", dir.path("in.y4m"), dir.path("out.y4m")}, on_terminal());
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    const RunResult piped = zeverive({dir.path("in.y4m"), dir.path("out.y4m")});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err.find(" fps"), std::string::npos) << piped.err;
}

// Frames larger than the plug-in holds go in tiles without being asked.
TEST(Program, TilesOfALargeFrameBlendBackExactlyWhenThePluginChangesNothing) {
    TempDir dir;
    ClipShape shape = clip_shape("420jpeg", 1000, 900);
    shape.frames = 2;
    const std::string input = make_y4m(shape);
    write_file(dir.path("in.y4m"), input);
    const RunResult result = zeverive(with_probe({dir.path("in.y4m"), dir.path("out.y4m")}));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(read_file(dir.path("out.y4m")), input);
}

}  // namespace
}  // namespace zeverive::cli
