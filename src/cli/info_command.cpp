#include "cli/info_command.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <ostream>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/text_codec.h"
#include "services/configer.h"
#include "services/language.h"
#include "services/shared_functions.h"

namespace {

struct TFileReport {
    std::string path;
    TAudioInformer record;
    std::optional<std::string> error;
};

const char* const kTextLabels[kAudioTextCount] = {"Artist", "Title", "Album", "Year",
                                                  "Comment", "Track", "Genre", "File name"};

std::string ChannelText(int code) {
    switch (code) {
        case ccStereo: return "stereo";
        case ccJointStereo: return "joint stereo";
        case ccDualChannel: return "dual channel";
        case ccMono: return "mono";
        default: return "unknown";
    }
}

std::string MpegVersionText(int version) {
    switch (version) {
        case 1: return "MPEG-1";
        case 2: return "MPEG-2";
        case 3: return "MPEG-2.5";
        default: return "none";
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
        out << "  Error:        " << *r.error << "\n";
        return;
    }
    auto line = [&](const char* name, const std::string& value) {
        std::string label = std::string(name) + ":";
        label.resize(14, ' ');
        out << "  " << label << value << "\n";
    };
    for (int i = 0; i < kAudioTextCount; ++i) {
        if (i == atFileName) {
            line("Album artist", r.record.AlbumArtist());
            line("Disc", r.record.Disc());
        }
        line(kTextLabels[i], r.record.GetText(i));
    }
    const TAudioInfo& a = r.record;
    if (a.NumberCount() >= kAudioNumberCount) {
        out << "  Playing time: " << FormatDuration(std::max(a.GetNumber(anPlayingTime), 0)) << "\n";
        out << "  Sample rate:  " << a.GetNumber(anSampleRate) << " Hz\n";
        out << "  Bit rate:     " << a.GetNumber(anBitRate) << " kbit/s\n";
        out << "  Channels:     " << ChannelText(a.GetNumber(anChannelCode)) << "\n";
        out << "  File size:    " << static_cast<std::uint32_t>(a.GetNumber(anFileSize)) << " bytes\n";
    }
    if (a.NumberCount() >= kMpegNumberCount) {
        out << "  MPEG version: " << MpegVersionText(a.GetNumber(anMpegVersion)) << "\n";
        out << "  MPEG layer:   " << a.GetNumber(anMpegLayer) << "\n";
    }
}

void PrintJson(const std::vector<TFileReport>& reports, std::ostream& out) {
    out << "[";
    for (std::size_t f = 0; f < reports.size(); ++f) {
        const TFileReport& r = reports[f];
        out << (f ? ",\n " : "\n ") << "{\"file\": " << JsonString(r.path) << ", \"texts\": [";
        for (int i = 0; i < kAudioTextCount; ++i) out << (i ? ", " : "") << JsonString(r.record.GetText(i));
        out << "], \"numbers\": [";
        for (int i = 0; i < r.record.NumberCount(); ++i) out << (i ? ", " : "") << r.record.GetNumber(i);
        out << "]";
        if (r.error) out << ", \"error\": " << JsonString(*r.error);
        out << ", \"album_artist\": " << JsonString(r.record.AlbumArtist());
        out << ", \"disc\": " << JsonString(r.record.Disc());
        out << "}";
    }
    out << (reports.empty() ? "]\n" : "\n]\n");
}

}  // namespace

std::string JsonString(const std::string& text) {
    // Paths need not be UTF-8; JSON must be.
    const std::string clean = SanitizeUtf8(text);
    std::string out = "\"";
    for (char ch : clean) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

int RunInfoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool json = false;
    std::vector<std::string> files;
    bool optionsDone = false;
    for (const std::string& a : args) {
        if (!optionsDone && a == "--json") {
            json = true;
        } else if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
            err << "orvalis info: unknown option \"" << a << "\"\n";
            return 2;
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) {
        err << "Usage: orvalis info [--json] FILE...\n";
        return 2;
    }
    std::string configError;
    if (!OpenAppConfiger(configError)) {
        err << "orvalis: " << configError << "\n";
        return 2;
    }
    std::vector<TFileReport> reports;
    reports.reserve(files.size());
    bool failed = false;
    for (const std::string& f : files) {
        reports.push_back(ReadOne(f));
        failed = failed || reports.back().error.has_value();
    }
    if (json) {
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
