#include "report/JsonFile.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "report/ClipReport.h"
#include "support/Text.h"

namespace {

// Significant digits of the measured values: far beyond what the clock
// resolves, and a third of the bytes of the shortest exact form.
constexpr int kDigits = 10;

// A small streaming writer: objects and arrays indented by two blanks, or
// kept on one line (the samples, the bins); the text goes to the sink in
// pieces.
class JsonOut {
public:
    explicit JsonOut(TextSink& sink) : Sink(sink) {}
    ~JsonOut() { Flush(); }

    void BeginObject(bool compact = false) { Open('{', compact); }
    void EndObject() { Close('}'); }
    void BeginArray(bool compact = false) { Open('[', compact); }
    void EndArray() { Close(']'); }

    JsonOut& Key(const char* name) {
        Separate();
        Text += '"';
        Text += name;
        Text += Compact() ? "\":" : "\": ";
        KeyWritten = true;
        return *this;
    }
    void String(const std::string& narrow) { Value(JsonString(narrow)); }
    void Unsigned(uint64_t value) { Value(std::to_string(value)); }
    void Integer(int64_t value) { Value(std::to_string(value)); }
    void Bool(bool value) { Value(value ? "true" : "false"); }
    void Null() { Value("null"); }
    void Number(double value) {
        std::string text;
        Value(AppendSignificant(text, value, kDigits) ? text : std::string("null"));
    }
    void Finish() {
        Text += "\n";
        Flush();
    }

private:
    struct Level {
        bool Compact;
        size_t Count;
    };

    bool Compact() const { return !Levels.empty() && Levels.back().Compact; }

    // The comma and the line break before a value or a key.
    void Separate() {
        if (KeyWritten) {
            KeyWritten = false;
            return;
        }
        if (Levels.empty()) return;
        Level& level = Levels.back();
        if (level.Count++ > 0) Text += ',';
        if (!level.Compact) {
            Text += '\n';
            Text.append(2 * Levels.size(), ' ');
        }
    }
    void Value(const std::string& text) {
        Separate();
        Text += text;
        if (Text.size() >= 64 * 1024) Flush();
    }
    void Open(char bracket, bool compact) {
        Separate();
        Text += bracket;
        Levels.push_back(Level{compact || Compact(), 0});
    }
    void Close(char bracket) {
        const Level level = Levels.back();
        Levels.pop_back();
        if (!level.Compact && level.Count > 0) {
            Text += '\n';
            Text.append(2 * Levels.size(), ' ');
        }
        Text += bracket;
    }
    void Flush() {
        if (!Text.empty()) Sink.Write(Text);
        Text.clear();
    }

    TextSink& Sink;
    std::string Text;
    std::vector<Level> Levels;
    bool KeyWritten = false;
};

void WriteFrameServer(JsonOut& json, const SeriesReport& series) {
    // Named once an evaluation succeeded (the log names it always).
    if (!series.General || !series.Clip) {
        json.Null();
        return;
    }
    const FrameServerFacts& info = series.General->FrameServer;
    json.BeginObject();
    json.Key("versionString").String(info.FrameServerVersion);
    json.Key("fileVersion").String(info.FileVersion);
    json.Key("interface").String(series.FrameServerInterface);
    json.Key("interfaceVersion").Integer(info.InterfaceVersion);
    json.Key("mtSupport").Bool(info.MTSupport);
    json.Key("linkerVersion").String(info.LinkerVersion);
    json.Key("location").String(info.DLLLocation);
    json.Key("timeStamp").String(info.TimeStamp);
    json.EndObject();
}

void WriteClip(JsonOut& json, const SeriesReport& series) {
    if (!series.Clip) {
        json.Null();
        return;
    }
    const ClipFacts& clip = *series.Clip;
    json.BeginObject();
    json.Key("hasVideo").Bool(clip.HasVideo);
    json.Key("frames").Integer(clip.FrameCount);
    json.Key("lengthMs").Integer(clip.LengthMs);
    json.Key("width").Integer(clip.Width);
    json.Key("height").Integer(clip.Height);
    json.Key("fpsNumerator").Unsigned(clip.FpsNumerator);
    json.Key("fpsDenominator").Unsigned(clip.FpsDenominator);
    json.Key("colourSpace").String(ColourSpaceName(clip.Colour, clip.PixelTypeName));
    json.Key("topFieldFirst").Bool(clip.TopFieldFirst);
    json.Key("bottomFieldFirst").Bool(clip.BottomFieldFirst);
    json.Key("audio");
    if (clip.SamplesPerSecond > 0) {
        json.BeginObject();
        json.Key("channels").Integer(clip.AudioChannels);
        json.Key("bitsPerSample").Integer(BitsPerSample(clip.SampleType));
        json.Key("sampleRate").Integer(clip.SamplesPerSecond);
        json.Key("samples").Integer(clip.AudioSamples);
        json.EndObject();
    } else {
        json.Null();
    }
    json.Key("mtMode");
    if (clip.MTModeQueried) json.Integer(clip.ActiveMTMode);
    else json.Null();
    json.EndObject();
}

// A fact the source did not give is null.
void WriteFact(JsonOut& json, const char* key, const std::string& value) {
    json.Key(key);
    if (value.empty()) json.Null();
    else json.String(value);
}

void WriteGraphicsCard(JsonOut& json, const GraphicsCardFacts& card) {
    json.BeginObject();
    json.Key("source").String(card.Source);
    json.Key("device").Unsigned(card.Device);
    json.Key("devices").Unsigned(card.DeviceCount);
    WriteFact(json, "cardName", card.CardName);
    WriteFact(json, "gpuName", card.GPUName);
    WriteFact(json, "memorySize", card.MemorySize);
    WriteFact(json, "openCLVersion", card.OpenCLVersion);
    WriteFact(json, "driverVersion", card.DriverVersion);
    WriteFact(json, "cudaVersion", card.CudaVersion);
    WriteFact(json, "computeCapability", card.ComputeCapability);
    json.EndObject();
}

void WriteSettings(JsonOut& json, const MeasurementSettings& settings) {
    json.BeginObject();
    json.Key("frameRange");
    if (settings.FrameRangeValid) {
        json.BeginObject();
        json.Key("first").Integer(settings.FrameFirst);
        json.Key("last").Integer(settings.FrameLast);
        json.EndObject();
    } else {
        json.Null();
    }
    json.Key("timeLimitSeconds");
    if (settings.TimeLimit == -1) json.Null();
    else json.Integer(settings.TimeLimit);
    json.Key("processPriority").Integer(settings.ProcessPriority);
    json.Key("runs").Unsigned(settings.Runs);
    json.Key("frameTimes").Bool(settings.FrameTimes);
    json.Key("monitorGPU").Bool(settings.MonitorGPU);
    json.Key("invokeDistributor").Bool(settings.InvokeDistributor);
    json.Key("switches").String(settings.Switches);
    json.EndObject();
}

void WriteOutcome(JsonOut& json, const char* kind, const std::string& message) {
    json.BeginObject();
    json.Key("kind").String(kind);
    json.Key("message").String(message);
    json.EndObject();
}

void WriteSummary(JsonOut& json, const RunRecord& run, const SampleColumnChoice& columns) {
    const RunStatistics& s = run.Stats;
    json.BeginObject();
    json.Key("framesProcessed").Unsigned(s.FramesProcessed);
    json.Key("firstFrame").Unsigned(s.FirstFrame);
    json.Key("lastFrame").Unsigned(s.LastFrame);
    json.Key("fpsMin").Number(s.FPSMin);
    json.Key("fpsMax").Number(s.FPSMax);
    json.Key("fpsAverage").Number(s.FPSAverage);
    json.Key("timePerFrameAverageMs").Number(1000.0 / s.FPSAverage);
    json.Key("cpuAverage").Unsigned(s.CPUAverage);
    if (columns.MonitorGPU) json.Key("gpuAverage").Unsigned(s.GPUAverage);
    if (columns.MonitorGPU && columns.HasVideoEngine) json.Key("vpuAverage").Unsigned(s.VPUAverage);
    if (columns.MonitorGPU && columns.HasProcessLoad) json.Key("gpuProcessAverage").Unsigned(s.ProcessGPUAverage);
    json.Key("physMemPeakMB").Unsigned(s.PhysMemPeakMB);
    json.Key("virtMemPeakMB").Unsigned(s.VirtMemPeakMB);
    json.Key("threads").Unsigned(run.Readings.ThreadCount);
    json.Key("elapsedMs").Integer(s.ElapsedMs);
    json.Key("estimatedMs").Integer(s.EstimatedMs);
    json.EndObject();
}

void WriteFrameTimes(JsonOut& json, const FrameTimeSummary& times) {
    json.BeginObject();
    json.Key("frames").Unsigned(times.Frames);
    json.Key("meanMs").Number(times.MeanMs);
    json.Key("medianMs").Number(times.MedianMs);
    json.Key("p99Ms").Number(times.P99Ms);
    json.Key("p999Ms").Number(times.P999Ms);
    json.Key("slowest").BeginArray();
    for (const FrameTimeSummary::Slow& slow : times.Slowest) {
        json.BeginObject(true);
        json.Key("frame").Unsigned(slow.Frame);
        json.Key("ms").Number(slow.Ms);
        json.EndObject();
    }
    json.EndArray();
    json.Key("histogram").BeginObject();
    json.Key("binsPerOctave").Unsigned(16);
    json.Key("bins").BeginArray();
    for (const FrameTimeBin& bin : times.Bins) {
        json.BeginObject(true);
        json.Key("fromMs").Number(bin.FromMs);
        json.Key("toMs").Number(bin.ToMs);
        json.Key("count").Unsigned(bin.Count);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    json.EndObject();
}

void WriteSample(JsonOut& json, const FrameSample& sample, const SampleColumnChoice& columns) {
    json.BeginObject(true);
    json.Key("frame").Unsigned(sample.FrameNumber);
    json.Key("fps").Number(sample.FPS);
    json.Key("fpsAverage").Number(sample.FPSAverage);
    json.Key("timePerFrameMs").Number(1000.0 / sample.FPS);
    json.Key("timePerFrameAverageMs").Number(1000.0 / sample.FPSAverage);
    json.Key("cpu").Unsigned(sample.CPUUsage);
    if (columns.MonitorGPU) json.Key("gpu").Unsigned(sample.GPULoad);
    if (columns.MonitorGPU && columns.HasVideoEngine) json.Key("vpu").Unsigned(sample.VideoEngineLoad);
    if (columns.MonitorGPU && columns.HasProcessLoad) json.Key("gpuProcess").Unsigned(sample.ProcessGPULoad);
    json.Key("threads").Unsigned(sample.ThreadCount);
    json.Key("physMemMB").Unsigned(sample.PhysMemMB);
    json.Key("virtMemMB").Unsigned(sample.VirtMemMB);
    json.EndObject();
}

void WriteRun(JsonOut& json, const RunRecord& run, const SeriesReport& series) {
    json.BeginObject();
    json.Key("run").Unsigned(run.Number);
    json.Key("outcome");
    WriteOutcome(json, RunEndingName(run.Ending.How), run.Ending.Message);
    json.Key("measured").Bool(run.Measured);
    json.Key("counted").Bool(run.Counted());
    json.Key("range");
    if (run.Measured) {
        json.BeginObject();
        json.Key("first").Unsigned(run.Stats.FirstFrame);
        json.Key("last").Unsigned(run.Stats.FirstFrame + run.Stats.FramesToProcess - 1);
        json.Key("frames").Unsigned(run.Stats.FramesToProcess);
        json.EndObject();
        json.Key("samplingInterval").Unsigned(run.Stats.SamplingInterval);
    } else {
        json.Null();
        json.Key("samplingInterval").Null();
    }
    json.Key("summary");
    if (run.Measured && run.Stats.SamplesStored > 0) WriteSummary(json, run, series.Columns);
    else json.Null();
    if (series.Settings.FrameTimes) {
        json.Key("frameTimes");
        if (run.FrameTimes) WriteFrameTimes(json, *run.FrameTimes);
        else json.Null();
    }
    json.Key("samples").BeginArray();
    for (const FrameSample& sample : run.Samples) WriteSample(json, sample, series.Columns);
    json.EndArray();
    json.EndObject();
}

void WriteSeriesFigures(JsonOut& json, const SeriesReport& series) {
    const SeriesFigures figures = SeriesFiguresOf(series);
    if (series.InfoOnly || figures.Runs == 0) {
        json.Null();
        return;
    }
    json.BeginObject();
    json.Key("runsCounted").Unsigned(figures.Runs);
    json.Key("fpsMean").Number(figures.Mean);
    json.Key("fpsStandardDeviation");
    if (figures.StandardDeviation) json.Number(*figures.StandardDeviation);
    else json.Null();
    json.Key("fpsMin").Number(figures.Min);
    json.Key("fpsMax").Number(figures.Max);
    json.EndObject();
}

// The comparison with a baseline: the threshold in percent, the ratio of
// the means, its uncertainty (null after a single run on either side).
void WriteBaseline(JsonOut& json, const BaselineOutcome& outcome) {
    const BaselineComparison& comparison = outcome.Comparison;
    json.BeginObject();
    json.Key("file").String(outcome.Path);
    json.Key("threshold").Number(outcome.ThresholdPercent);
    json.Key("ratio").Number(comparison.Speed.Ratio);
    json.Key("uncertainty");
    if (comparison.Speed.Uncertainty) json.Number(*comparison.Speed.Uncertainty);
    else json.Null();
    json.Key("verdict").String(BaselineVerdictText(comparison.Verdict));
    json.Key("slowerBeyondThreshold").Bool(comparison.SlowerBeyondThreshold);
    json.EndObject();
}

void WriteOptional(JsonOut& json, const char* key, const std::optional<double>& value) {
    json.Key(key);
    if (value) json.Number(*value);
    else json.Null();
}

void WriteProfile(JsonOut& json, const ScriptProfile& profile) {
    const std::vector<ProfileFigures> figures = ProfileFiguresOf(profile);
    json.BeginArray();
    for (size_t index = 0; index < profile.Stages.size(); ++index) {
        const ProfileStage& stage = profile.Stages[index];
        json.BeginObject();
        json.Key("line").Unsigned(stage.Line);
        json.Key("statement").String(stage.Text);
        json.Key("outcome");
        WriteOutcome(json, RunEndingName(stage.Ending.How), stage.Ending.Message);
        json.Key("frames").Unsigned(stage.Frames);
        WriteOptional(json, "fps", stage.Fps);
        WriteOptional(json, "timePerFrameMs", figures[index].MsPerFrame);
        WriteOptional(json, "addedMs", figures[index].AddedMs);
        WriteOptional(json, "sharePercent", figures[index].SharePercent);
        json.EndObject();
    }
    json.EndArray();
}

// The clip, the settings (withSettings) and what the runs gave: the keys of
// a series, at the top of the file or in a scan's value.
void WriteMeasurement(JsonOut& json, const SeriesReport& series, bool withSettings) {
    json.Key("clip");
    WriteClip(json, series);
    if (series.GraphicsCard) {
        json.Key("graphicsCard");
        WriteGraphicsCard(json, *series.GraphicsCard);
    }
    if (withSettings) {
        json.Key("settings");
        WriteSettings(json, series.Settings);
    }
    const SeriesEnding ending = SeriesEndingOf(series);
    json.Key("outcome");
    WriteOutcome(json, ending.Name, ending.Message);
    json.Key("runsRequested").Unsigned(series.InfoOnly ? 0 : series.RunsRequested);
    json.Key("runs").BeginArray();
    if (!series.InfoOnly)
        for (const RunRecord& run : series.Runs) WriteRun(json, run, series);
    json.EndArray();
    json.Key("series");
    WriteSeriesFigures(json, series);
    if (series.Baseline) {
        json.Key("baseline");
        WriteBaseline(json, *series.Baseline);
    }
    if (series.Profile) {
        json.Key("profile");
        WriteProfile(json, *series.Profile);
    }
}

void WriteScanValue(JsonOut& json, const ScanValue& value) {
    switch (value.Type) {
    case ScanType::Integer: json.Integer(value.Integer); break;
    case ScanType::Float: json.Number(value.Float); break;
    case ScanType::Bool: json.Bool(value.Bool); break;
    case ScanType::String: json.String(value.String); break;
    }
}

// The global, its type, and one object per value, in the order measured.
void WriteScan(JsonOut& json, const SeriesReport& scan) {
    const ScanStep& step = *scan.ScanValues.front().Scan;
    json.BeginObject();
    json.Key("name").String(step.Name);
    json.Key("type").String(ScanTypeName(step.Value.Type));
    json.Key("values").BeginArray();
    for (const SeriesReport& value : scan.ScanValues) {
        json.BeginObject();
        json.Key("row").String(value.Scan->Row);
        json.Key("value");
        WriteScanValue(json, value.Scan->Value);
        WriteMeasurement(json, value, false);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
}

}  // namespace

std::string JsonString(const std::string& narrow) {
    static const char kHex[] = "0123456789abcdef";
    std::string text = "\"";
    for (char character : Utf8Text(narrow)) {
        const unsigned char byte = static_cast<unsigned char>(character);
        switch (character) {
        case '"': text += "\\\""; break;
        case '\\': text += "\\\\"; break;
        case '\n': text += "\\n"; break;
        case '\r': text += "\\r"; break;
        case '\t': text += "\\t"; break;
        default:
            if (byte < 0x20) {
                text += "\\u00";
                text += kHex[byte >> 4];
                text += kHex[byte & 15];
            } else {
                text += character;
            }
        }
    }
    return text + "\"";
}

void ProduceJson(const SeriesReport& series, TextSink& sink) {
    JsonOut json(sink);
    json.BeginObject();
    json.Key("format").String("tachoro-results");
    json.Key("schemaVersion").Integer(kResultsSchemaVersion);
    json.Key("program").BeginObject();
    json.Key("name").String("Tachoro");
    json.Key("version").String(series.ProgramVersion);
    json.Key("platform").String(series.Platform);
    json.EndObject();
    json.Key("started").String(series.StartedUtc);
    json.Key("script").String(series.ScriptPath);
    json.Key("mode").String(series.InfoOnly ? "info" : "measure");
    json.Key("frameServer");
    WriteFrameServer(json, series);
    if (!series.ScanValues.empty()) {
        json.Key("settings");
        WriteSettings(json, series.Settings);
        json.Key("scan");
        WriteScan(json, series);
    } else {
        WriteMeasurement(json, series, true);
    }
    json.EndObject();
    json.Finish();
}
