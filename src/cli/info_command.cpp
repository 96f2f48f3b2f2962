// Reads audio files and prints what was read, as text or JSON.
#include "cli/info_command.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <ostream>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/text_codec.h"
#include "base/language.h"
#include "base/shared_functions.h"
#include "services/configer.h"

namespace {

struct TFileReport {
    std::string path;
    TAudioInformer record;
    std::optional<std::string> error;
};

const char* const kTextLabels[kAudioTextCount] = {
    Translatable("Artist"),  Translatable("Title"), Translatable("Album"), Translatable("Year"),
    Translatable("Comment"), Translatable("Track"), Translatable("Genre"), Translatable("File name")};

std::string ChannelText(int code) {
    switch (code) {
        case ccStereo: return Translate("stereo");
        case ccJointStereo: return Translate("joint stereo");
        case ccDualChannel: return Translate("dual channel");
        case ccMono: return Translate("mono");
        default: return Translate("unknown");
    }
}

// "Label:" padded to the value column; a translated label may be longer.
std::string Label(const char* text) {
    std::string label = Translate(text) + ":";
    std::size_t columns = 0;
    for (char c : label) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (columns < 14)
        label.append(14 - columns, ' ');
    else
        label += ' ';
    return label;
}

std::string MpegVersionText(int version) {
    switch (version) {
        case 1: return "MPEG-1";
        case 2: return "MPEG-2";
        case 3: return "MPEG-2.5";
        default: return Translate("none");
    }
}

TFileReport ReadOne(const std::string& path) {
    TFileReport report;
    report.path = path;
    if (!TAudioInformer::IsAudioFile(path)) {
        report.record.SetText(atFileName, path);
        report.error = Translate("Not an audio file: $1", Params({path}));
        return report;
    }
    try {
        // The record absorbs open failures of some formats; the user asked
        // about this file, so say when it cannot be read at all.
        { TBufferedFile probe(path); }
        report.record.ReadFile(path);
    } catch (const Exception& e) {
        report.record.SetText(atFileName, path);
        report.error = e.Message();
    } catch (const std::exception& e) {
        report.record.SetText(atFileName, path);
        report.error = e.what();
    }
    return report;
}

void PrintPlain(const TFileReport& r, std::ostream& out) {
    out << r.path << "\n";
    if (r.error) {
        out << "  " << Label(Translatable("Error")) << *r.error << "\n";
        return;
    }
    for (int i = 0; i < kAudioTextCount; ++i) {
        if (i == atFileName) {
            out << "  " << Label(Translatable("Album artist")) << r.record.AlbumArtist() << "\n";
            out << "  " << Label(Translatable("Disc")) << r.record.Disc() << "\n";
        }
        out << "  " << Label(kTextLabels[i]) << r.record.GetText(i) << "\n";
    }
    const TAudioInfo& a = r.record;
    if (a.NumberCount() >= kAudioNumberCount) {
        out << "  " << Label(Translatable("Playing time")) << FormatDuration(std::max(a.GetNumber(anPlayingTime), 0))
            << "\n";
        out << "  " << Label(Translatable("Sample rate")) << a.GetNumber(anSampleRate) << " Hz\n";
        out << "  " << Label(Translatable("Bit rate")) << a.GetNumber(anBitRate) << " kbit/s\n";
        out << "  " << Label(Translatable("Channels")) << ChannelText(a.GetNumber(anChannelCode)) << "\n";
        out << "  " << Label(Translatable("File size")) << r.record.FileSize() << " "
            << Translate("bytes") << "\n";
    }
    if (a.NumberCount() >= kMpegNumberCount) {
        out << "  " << Label(Translatable("MPEG version")) << MpegVersionText(a.GetNumber(anMpegVersion)) << "\n";
        out << "  " << Label(Translatable("MPEG layer")) << a.GetNumber(anMpegLayer) << "\n";
    }
}

// Names for the positional numbers, in their order.
const char* const kNumberNames[] = {"seconds",   "sample_rate",  "bitrate",   "channels",
                                    "file_size", "mpeg_version", "mpeg_layer"};

nlohmann::ordered_json FileObject(const TFileReport& r) {
    nlohmann::ordered_json file;
    file["file"] = SanitizeUtf8(r.path);  // paths need not be UTF-8; JSON must be
    nlohmann::json texts = nlohmann::json::array();
    for (int i = 0; i < kAudioTextCount; ++i) texts.push_back(SanitizeUtf8(r.record.GetText(i)));
    file["texts"] = texts;
    nlohmann::json numbers = nlohmann::json::array();
    // The file size in full: the record's number keeps only its low 32 bits.
    for (int i = 0; i < r.record.NumberCount(); ++i)
        numbers.push_back(i == anFileSize ? nlohmann::json(r.record.FileSize()) : nlohmann::json(r.record.GetNumber(i)));
    // Scripts may read the array by position; the names say the same.
    file["numbers"] = numbers;
    for (int i = 0; i < r.record.NumberCount() && i < static_cast<int>(std::size(kNumberNames)); ++i)
        file[kNumberNames[i]] = numbers[static_cast<std::size_t>(i)];
    if (r.error) file["error"] = SanitizeUtf8(*r.error);
    file["album_artist"] = SanitizeUtf8(r.record.AlbumArtist());
    file["disc"] = SanitizeUtf8(r.record.Disc());
    file["artist_sort"] = SanitizeUtf8(r.record.ArtistSort());
    file["album_artist_sort"] = SanitizeUtf8(r.record.AlbumArtistSort());
    file["compilation"] = r.record.Compilation();
    return file;
}

// One object per line, with a blank after every separator, as before.
void WriteSpaced(const nlohmann::ordered_json& value, std::ostream& out) {
    if (value.is_object()) {
        out << "{";
        bool first = true;
        for (const auto& [key, item] : value.items()) {
            out << (first ? "" : ", ") << nlohmann::json(key).dump() << ": ";
            WriteSpaced(item, out);
            first = false;
        }
        out << "}";
    } else if (value.is_array()) {
        out << "[";
        for (std::size_t i = 0; i < value.size(); ++i) {
            out << (i ? ", " : "");
            WriteSpaced(value[i], out);
        }
        out << "]";
    } else {
        out << value.dump();
    }
}

void PrintJson(const std::vector<TFileReport>& reports, std::ostream& out) {
    out << "[";
    for (std::size_t f = 0; f < reports.size(); ++f) {
        out << (f ? ",\n " : "\n ");
        WriteSpaced(FileObject(reports[f]), out);
    }
    out << (reports.empty() ? "]\n" : "\n]\n");
}

}  // namespace

void AddInfoOptions(CLI::App& command, TInfoOptions& options) {
    command.add_flag("--json", options.Json, "one JSON object per file");
    command.add_option("FILE", options.Files, "audio files")->required();
}

int RunInfoCommand(const TInfoOptions& options, std::ostream& out, std::ostream& err) {
    if (options.Files.empty()) {
        err << "Usage: orvalis info [--json] FILE...\n";
        return 2;
    }
    std::string configError;
    if (!OpenAppConfiger(configError)) {
        err << "orvalis: " << configError << "\n";
        return 2;
    }
    std::vector<TFileReport> reports;
    reports.reserve(options.Files.size());
    bool failed = false;
    for (const std::string& f : options.Files) {
        reports.push_back(ReadOne(f));
        failed = failed || reports.back().error.has_value();
    }
    if (options.Json) {
        PrintJson(reports, out);
    } else {
        for (std::size_t i = 0; i < reports.size(); ++i) {
            if (i) out << "\n";
            PrintPlain(reports[i], out);
        }
        for (const TFileReport& r : reports)
            if (r.error) err << "orvalis info: " << *r.error << "\n";
    }
    out.flush();
    CloseAppConfiger();
    return failed ? 1 : 0;
}
