// The information-only run and the failures of script evaluation.
#include "tests/e2e/Harness.h"

namespace {

const std::string kPalClip = "width=720\nheight=576\nfps=25/1\nframes=250\npixel_type=YV12\n";

std::string ClipLines(const std::string& frames, const std::string& length, const std::string& width,
                      const std::string& height, const std::string& rate, const std::string& colourSpace) {
    return "\nNumber of frames:          " + frames + "\nLength (hh:mm:ss.ms):  " + length +
           "\nFrame width:               " + width + "\nFrame height:              " + height +
           "\nFramerate:                 " + rate + "\nColorspace:                    " + colourSpace + "\n";
}

std::string InfoRunStart() { return BannerWithVersion() + StatusShownAndCleared("Loading script..."); }

// The last load of the library is the main connection: everything it handed
// out must be back and its environment deleted exactly once.
void ExpectCleanMainConnection(const TachoroRun& tachoro) {
    auto loads = ReadCounterLines(tachoro.CountersFile());
    ASSERT_FALSE(loads.empty());
    for (auto& load : loads) {
        EXPECT_EQ(load["environments_created"], load["environments_deleted"]);
        EXPECT_EQ(load["clips_alive"], 0);
        EXPECT_EQ(load["frames_alive"], 0);
        EXPECT_EQ(load["values_alive"], 0);
        EXPECT_EQ(load["handle_ops_after_delete"], 0);
    }
    EXPECT_EQ(loads.back()["environments_deleted"], 1);
}

TEST_BOTH_INTERFACES(InfoRun, ReportsAPalClip) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kPalClip);
    ProcessResult result = tachoro.Run({script, "-info"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_EQ(result.Out, "");
    EXPECT_EQ(result.Err, InfoRunStart() + ClipLines("        250", "   00:00:10.000", "        720", "        576",
                                                      "     25.000 (25/1)", "   YV12"));
    ExpectCleanMainConnection(tachoro);
    // The probe, the version query and the main connection: no calibration.
    EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).size(), 3u);
}

TEST_BOTH_INTERFACES(InfoRun, ShowsTheFieldOrder) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const struct {
        const char* directive;
        const char* rate;
    } cases[] = {
        {"field_based=tff\n", "     29.970 (30000/1001, TFF)"},
        {"field_based=bff\n", "     29.970 (30000/1001, BFF)"},
        {"field_based=unknown\n", "     29.970 (30000/1001)"},
    };
    for (const auto& testCase : cases) {
        const std::string script = tachoro.WriteScript(
            "ntsc.avs", std::string("width=720\nheight=480\nfps=30000/1001\nframes=300\npixel_type=YUY2\n") +
                            testCase.directive);
        ProcessResult result = tachoro.Run({script, "-i"});
        EXPECT_EXIT_CODE(result, 0);
        EXPECT_EQ(result.Err, InfoRunStart() + ClipLines("        300", "   00:00:10.010", "        720",
                                                          "        480", testCase.rate, "   YUY2"));
    }
}

TEST_BOTH_INTERFACES(InfoRun, NamesEveryColourSpace) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::vector<std::pair<std::string, std::string>> withoutPixelType = {{"TESTFS_FUNCTIONS", "VersionString"}};
    const std::vector<std::pair<std::string, std::string>> standard;
    const struct {
        const char* type;
        const char* name;
        const std::vector<std::pair<std::string, std::string>>& frameServer;
    } cases[] = {
        {"YV411", "  YV411", standard},     {"YV24", "   YV24", standard},        {"YV16", "   YV16", standard},
        {"Y8", "     Y8", standard},        {"YV12", "   YV12", standard},        {"YUY2", "   YUY2", standard},
        {"RGB24", "  RGB24", standard},     {"RGB32", "  RGB32", standard},       {"none", "Unknown", standard},
        {"YUV420P10", "YUV420P10", standard}, {"YUV444P16", "YUV444P16", standard}, {"RGBP", "   RGBP", standard},
        {"RGBAP10", "RGBAP10", standard},   {"YUVA420", "YUVA420", standard},     {"Y16", "    Y16", standard},
        {"RGB48", "  RGB48", standard},     {"RGB64", "  RGB64", standard},       {"YUV420PS", "YUV420PS", standard},
        {"Y32", "    Y32", standard},
        // An older frame server has no "PixelType": the classic names stay, the rest is unknown.
        {"YV12", "   YV12", withoutPixelType}, {"YUV420P10", "Unknown", withoutPixelType},
    };
    for (const auto& testCase : cases) {
        const std::string script =
            tachoro.WriteScript("space.avs", std::string("frames=1\npixel_type=") + testCase.type + "\n");
        ProcessResult result = tachoro.Run({script, "-info", "-log"}, testCase.frameServer);
        EXPECT_EXIT_CODE(result, 0);
        const std::string line = std::string("Colorspace:                    ") + testCase.name;
        ASSERT_GE(result.Err.size(), line.size() + 1);
        EXPECT_EQ(result.Err.substr(result.Err.size() - line.size() - 1), line + "\n") << testCase.type;
        EXPECT_NE(ReadBytes(tachoro.Path("space.log")).find("\r\n" + line + "\r\n"), std::string::npos)
            << testCase.type;
    }
}

TEST_BOTH_INTERFACES(InfoRun, AnAudioOnlyClipHasNoVideoFigures) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript(
        "audio.avs", "video=none\naudio_channels=2\nsample_type=int16\nsample_rate=48000\naudio_samples=480000\n");
    ProcessResult result = tachoro.Run({script, "-info"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_EQ(result.Err, InfoRunStart() + "\nNumber of frames:                  n/a"
                                           "\nLength (hh:mm:ss.ms):              n/a"
                                           "\nFrame width:                       n/a"
                                           "\nFrame height:                      n/a"
                                           "\nFramerate:                         n/a"
                                           "\nColorspace:                        n/a\n");
}

TEST_BOTH_INTERFACES(InfoRun, AZeroFrameRateDoesNotBreakTheReport) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("zero.avs", "fps=25/0\nframes=100\n");
    ProcessResult result = tachoro.Run({script, "-info"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_EQ(result.Err, InfoRunStart() + ClipLines("        100", "   00:00:00.000", "        640", "        480",
                                                      "      0.000 (25/0)", "   YV12"));
}

TEST_BOTH_INTERFACES(InfoRun, ShowsTheActiveMultiThreadingModeAndInvokesTheDistributor) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kPalClip);
    const std::vector<std::pair<std::string, std::string>> mtFrameServer = {
        {"TESTFS_FUNCTIONS", "VersionString,GetMTMode,Distributor,SetMTMode"}, {"TESTFS_MTMODE", "2"}};
    ProcessResult result = tachoro.Run({script, "-info"}, mtFrameServer);
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_EQ(result.Err, InfoRunStart() +
                              ClipLines("        250", "   00:00:10.000", "        720", "        576",
                                        "     25.000 (25/1)", "   YV12") +
                              "Active MT Mode:                      2\n");
    EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).back()["distributor_calls"], 1);
    ExpectCleanMainConnection(tachoro);

    TachoroRun withoutDistributor;
    withoutDistributor.WriteSettings({"InvokeDistributor=0"});
    const std::string again = withoutDistributor.WriteScript("clip.avs", kPalClip);
    result = withoutDistributor.Run({again, "-info"}, mtFrameServer);
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_NE(result.Err.find("Active MT Mode:                      2\n"), std::string::npos);
    EXPECT_EQ(ReadCounterLines(withoutDistributor.CountersFile()).back()["distributor_calls"], 0);
}

TEST_BOTH_INTERFACES(InfoRun, ModesOutsideOneToFourCallNoDistributor) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("clip.avs", kPalClip);
    for (const char* mode : {"0", "5", "string"}) {
        ProcessResult result = tachoro.Run(
            {script, "-info"}, {{"TESTFS_FUNCTIONS", "VersionString,GetMTMode,Distributor"}, {"TESTFS_MTMODE", mode}});
        EXPECT_EXIT_CODE(result, 0);
        const std::string shown = std::string(mode) == "5" ? "5" : "0";
        EXPECT_NE(result.Err.find("Active MT Mode:                      " + shown + "\n"), std::string::npos) << mode;
        EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).back()["distributor_calls"], 0) << mode;
    }
}

TEST_BOTH_INTERFACES(ScriptFailures, AScriptThatReturnsANumber) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("number.avs", "return=int\n");

    ProcessResult measuring = tachoro.Run({script});
    EXPECT_EXIT_CODE(measuring, -1);
    EXPECT_EQ(measuring.Err, BannerWithVersion() + StatusShownAndCleared("Analysing script...") +
                                 "\nScript did not return a video clip:\n(" + script + ")\n");

    ProcessResult info = tachoro.Run({script, "-info"});
    EXPECT_EXIT_CODE(info, -1);
    EXPECT_EQ(info.Err, InfoRunStart() + "\n\"" + script + "\":\nScript did not return a clip\n");
}

TEST_BOTH_INTERFACES(ScriptFailures, AnErrorRaisedByTheImport) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("broken.avs", "import_error=Invalid arguments to function Foo\n");
    ProcessResult measuring = tachoro.Run({script});
    EXPECT_EXIT_CODE(measuring, -1);
    EXPECT_EQ(measuring.Err, BannerWithVersion() + StatusShownAndCleared("Analysing script...") +
                                 "\nInvalid arguments to function Foo\n");
    ProcessResult info = tachoro.Run({script, "-info"});
    EXPECT_EXIT_CODE(info, -1);
    EXPECT_EQ(info.Err, InfoRunStart() + "\nInvalid arguments to function Foo\n");
}

TEST_BOTH_INTERFACES(ScriptFailures, AVideoClipWithoutFramesStopsTheCalibration) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("empty.avs", "frames=0\n");
    ProcessResult result = tachoro.Run({script});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(result.Err, BannerWithVersion() + StatusShownAndCleared("Analysing script...") +
                              "\nScript returned a video clip without frames:\n(" + script + ")\n");
    EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).back()["frames_requested"], 0);
}

TEST_BOTH_INTERFACES(ScriptFailures, AnAudioOnlyClipFailsTheCalibration) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const std::string script = tachoro.WriteScript("audio.avs", "video=none\nsample_rate=48000\naudio_channels=2\n");
    ProcessResult result = tachoro.Run({script});
    EXPECT_EXIT_CODE(result, -1);
    EXPECT_EQ(result.Err, BannerWithVersion() + StatusShownAndCleared("Analysing script...") +
                              "\nScript did not return a video clip:\n(" + script + ")\n");
}

TEST_BOTH_INTERFACES(ScriptFailures, FaultsInsideTheFrameServerAreReportedByName) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const struct {
        const char* fault;
        const char* text;
    } cases[] = {
        {"access_violation", "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION"},
        {"divide_by_zero", "Exception 0xC0000094\nSTATUS_INTEGER_DIVIDE_BY_ZERO"},
        {"stack_overflow", "Exception 0xC00000FD\nSTATUS_STACK_OVERFLOW"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.fault);
        const std::string script = tachoro.WriteScript("fault.avs", std::string("import_fault=") + testCase.fault);
        ProcessResult calibration = tachoro.Run({script});
        EXPECT_EXIT_CODE(calibration, -1);
        EXPECT_EQ(calibration.Err, BannerWithVersion() + StatusShownAndCleared("Analysing script...") + "\n" +
                                       testCase.text + "\n");
        ProcessResult info = tachoro.Run({script, "-info"});
        EXPECT_EXIT_CODE(info, -1);
        EXPECT_EQ(info.Err, InfoRunStart() + "\n" + testCase.text + "\n");

        // A frame that faults while the calibration reads it (the third load).
        const std::string frames = tachoro.WriteScript(
            "frames.avs", std::string("frames=300\nfail_at=150\nfail_in_load=3\nfail_with=") + testCase.fault);
        ProcessResult reading = tachoro.Run({frames});
        EXPECT_EXIT_CODE(reading, -1);
        EXPECT_EQ(reading.Err, BannerWithVersion() + StatusShownAndCleared("Analysing script...") + "\n" +
                                   testCase.text + "\n(while reading frame 150)\n");
        EXPECT_EQ(ReadCounterLines(tachoro.CountersFile()).back()["frames_requested"], 151);
    }
}

// An exception of a plug-in's own is "Unknown exception", with its text when
// it has one the program can read (it derives from std::exception); never
// the system's text of some earlier, unrelated error.
TEST_BOTH_INTERFACES(ScriptFailures, AnExceptionOfAPluginIsAnUnknownException) {
    TachoroRun tachoro;
    tachoro.WriteSettings();
    const struct {
        const char* script;
        std::vector<std::string> switches;
        std::string shown;  // after the banner
    } cases[] = {
        {"import_fault=foreign\n", {"-info"}, StatusShownAndCleared("Loading script...") + "\nUnknown exception\n"},
        {"import_fault=runtime_error\n", {"-info"},
         StatusShownAndCleared("Loading script...") + "\nUnknown exception\ntestfs: runtime error\n"},
        {"frames=300\nfail_at=150\nfail_in_load=3\nfail_with=runtime_error\nfail_message=Filter gave up\n", {},
         StatusShownAndCleared("Analysing script...") + "\nUnknown exception\nFilter gave up\n(while reading frame 150)\n"},
        {"frames=300\nfail_at=150\nfail_in_load=4\nfail_with=runtime_error\n", {},
         "\nUnknown exception\nframe 150 failed\n(while reading frame 150)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const std::string script = tachoro.WriteScript("plugin.avs", c.script);
        std::vector<std::string> arguments = {script};
        arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
        ProcessResult result = tachoro.Run(arguments);
        EXPECT_EXIT_CODE(result, -1);
        ASSERT_GE(result.Err.size(), c.shown.size());
        EXPECT_EQ(result.Err.substr(result.Err.size() - c.shown.size()), c.shown);
    }
}

// With -log a failed evaluation or calibration writes the log: the general
// information, the clip once it was evaluated, the script and the error.
TEST_BOTH_INTERFACES(ScriptFailures, AFailedEvaluationWritesTheLogAskedFor) {
    const struct {
        const char* what;
        std::string script;
        std::vector<std::string> switches;
        bool clip;  // the script was evaluated before it failed
        std::string error;
    } cases[] = {
        {"an error in the calibration's evaluation", "import_error=No such filter\n", {"-log"}, false,
         "No such filter"},
        {"an error at a frame of the calibration", "frames=300\nfail_at=150\nfail_in_load=3\n", {"-log"}, true,
         "frame 150 failed\r\n(while reading frame 150)"},
        {"an error at the main load", "import_error=No such filter\n", {"-info"}, false, "No such filter"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TachoroRun tachoro;
        tachoro.WriteSettings();
        const std::string script = tachoro.WriteScript("clip.avs", c.script);
        std::vector<std::string> arguments = {script};
        arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
        EXPECT_EXIT_CODE(tachoro.Run(arguments), -1);
        const std::string log = ReadBytes(tachoro.Path("clip.log"));
        EXPECT_EQ(log.rfind("[General info]\r\nLog file created with:                 Tachoro 2.1.3 (x64)\r\n", 0), 0u)
            << log;
        EXPECT_EQ(log.find("\r\n[Clip info]\r\nNumber of frames:                  300\r\n") != std::string::npos, c.clip)
            << log;
        const std::string ending = "\r\n[Script]\r\n" + c.script.substr(0, c.script.find('\n')) + "\r\n";
        EXPECT_NE(log.find(ending), std::string::npos) << log;
        const std::string error = "\r\n\r\n[AviSynth error]\r\n" + c.error + "\r\n";
        ASSERT_GE(log.size(), error.size()) << log;
        EXPECT_EQ(log.substr(log.size() - error.size()), error);
    }

    // Without -log a failed calibration writes none.
    TachoroRun unasked;
    unasked.WriteSettings();
    EXPECT_EXIT_CODE(unasked.Run({unasked.WriteScript("clip.avs", "import_error=No such filter\n")}), -1);
    EXPECT_FALSE(PathExists(unasked.Path("clip.log")));
}

// A log that nobody asked for, written because the run failed, keeps the log
// of an earlier run as its backup; a log asked for replaces it.
TEST_BOTH_INTERFACES(ScriptFailures, AnErrorLogNobodyAskedForKeepsTheEarlierLog) {
    const std::string earlier = "a good log of an earlier run\r\n";
    for (bool asked : {false, true}) {
        SCOPED_TRACE(asked ? "-log" : "no -log");
        TachoroRun tachoro;
        tachoro.WriteSettings();
        const std::string script = tachoro.WriteScript("clip.avs", "import_error=No such filter\n");
        WriteBytes(tachoro.Path("clip.log"), earlier);
        std::vector<std::string> arguments = {script, "-info"};
        if (asked) arguments.push_back("-log");
        const ProcessResult result = tachoro.Run(arguments);
        EXPECT_EXIT_CODE(result, -1);
        EXPECT_NE(ReadBytes(tachoro.Path("clip.log")).find("[AviSynth error]\r\nNo such filter\r\n"),
                  std::string::npos);
        EXPECT_EQ(PathExists(tachoro.Path("clip.log.bak")), !asked);
        if (!asked) {
            EXPECT_EQ(ReadBytes(tachoro.Path("clip.log.bak")), earlier);
        }
    }
}

}  // namespace
